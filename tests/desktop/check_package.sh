#!/usr/bin/env bash
# Builds the Debian package with CPack and checks what it holds, what it depends on, and that
# those dependencies can all be met from Debian 12 on a machine with nothing installed yet.
#   check_package.sh BUILD-DIR OUTPUT-DIR "PROGRAM..."
# The package is left in OUTPUT-DIR for the test that starts it.
set -euo pipefail
source "$(dirname "$0")/xsession.sh"

build_dir=$1 output_dir=$2
read -ra programs <<<"$3"
rm -rf "$output_dir"
mkdir -p "$output_dir"
(cd "$build_dir" && cpack -G DEB -B "$output_dir" >"$workdir/cpack.log" 2>&1) ||
    { cat "$workdir/cpack.log" >&2; fail "cpack could not build the package"; }
package=$(find "$output_dir" -maxdepth 1 -name 'duoptica_*.deb')
[ -f "$package" ] || fail "cpack made no duoptica_*.deb"

depends=$(dpkg-deb --field "$package" Depends)
echo "Depends: $depends"
depended_on=$(tr ',|' '\n\n' <<<"$depends" | awk '{print $1}')
# What the programs link (found by dpkg-shlibdeps; the OpenCV modules for --align, libjpeg for
# streamed JPEG pairs, libimagequant and Little CMS for the wiggles, libheif for HEIC) and what Qt loads at run time (TIFF and WebP from the image formats plugins).
for needed in libc6 libstdc++6 libqt6core6 libqt6gui6 libqt6widgets6 qt6-qpa-plugins \
    qt6-image-formats-plugins fonts-dejavu-core libopencv-core406 libopencv-imgproc406 \
    libopencv-flann406 libopencv-features2d406 libjpeg62-turbo libimagequant0 liblcms2-2 libheif1; do
    grep -qxF "$needed" <<<"$depended_on" || fail "the package does not depend on $needed"
done

files=$(dpkg-deb --contents "$package" | awk '{print $6}')
man_pages=("${programs[@]/#/./usr/share/man/man1/}")
for path in ./usr/share/applications/org.duoptica.Duoptica.desktop \
    ./usr/share/icons/hicolor/scalable/apps/org.duoptica.Duoptica.svg \
    ./usr/share/metainfo/org.duoptica.Duoptica.metainfo.xml ./usr/share/doc/duoptica/copyright \
    ./usr/share/doc/duoptica/changelog.gz "${programs[@]/#/./usr/bin/}" \
    "${man_pages[@]/%/.1.gz}"; do
    grep -qx -- "$path" <<<"$files" || fail "the package lacks $path"
done
if [[ " ${programs[*]} " == *" duoptica-combine "* ]]; then
    grep -qx ./usr/share/bash-completion/completions/duoptica-combine <<<"$files" ||
        fail "the package lacks the bash completion of duoptica-combine"
fi

root="$workdir/root"
dpkg-deb --extract "$package" "$root"
for program in "${programs[@]}"; do
    if readelf --dynamic "$root/usr/bin/$program" | grep -Eq 'RPATH|RUNPATH'; then
        fail "usr/bin/$program carries an RPATH"
    fi
done

# The packaged command-line tool runs from the package and reads JPEG and GIF through the same
# Qt plugins the window uses, and 16-bit TIFF and WebP through the image formats plugins.
if [ -x "$root/usr/bin/duoptica-combine" ]; then
    convert -size 40x30 gradient:red-blue "$workdir/left.jpg"
    convert -size 40x30 gradient:green-white "$workdir/right.gif"
    "$root/usr/bin/duoptica-combine" --mode red-blue "$workdir/left.jpg" "$workdir/right.gif" \
        "$workdir/out.bmp" || fail "the packaged duoptica-combine could not combine a JPEG and a GIF"
    [[ $(identify -format '%m %wx%h' "$workdir/out.bmp") =~ ^BMP[0-9]?\ 40x30$ ]] ||
        fail "the packaged duoptica-combine wrote no 40 x 30 BMP"
    convert -size 40x30 gradient:red-blue -depth 16 "$workdir/left.tif"
    convert -size 40x30 gradient:green-white "$workdir/right.webp"
    "$root/usr/bin/duoptica-combine" "$workdir/left.tif" "$workdir/right.webp" "$workdir/out.png" ||
        fail "the packaged duoptica-combine could not combine a 16-bit TIFF and a WebP"
fi

# A fresh Debian 12 machine: apt is told that nothing at all is installed, and must find every
# package the .deb needs, down to libc, in the archive this machine uses.
compgen -G '/var/lib/apt/lists/*_Packages*' >/dev/null ||
    skip "the package was built and checked, but apt has no package lists to resolve its dependencies against (run apt-get update)"
: >"$workdir/nothing-installed"
apt-get --simulate --no-install-recommends -o Dir::State::status="$workdir/nothing-installed" \
    -o Debug::NoLocking=1 install "$package" >"$workdir/apt.log" 2>&1 ||
    { cat "$workdir/apt.log" >&2; fail "apt cannot install the package on a bare Debian system"; }
for needed in duoptica libqt6widgets6 qt6-qpa-plugins fonts-dejavu-core; do
    grep -q "^Inst $needed " "$workdir/apt.log" || fail "apt's plan for a bare system lacks $needed"
done
echo "$(basename "$package"): installable on a bare system with $(grep -c '^Inst ' "$workdir/apt.log") packages"
