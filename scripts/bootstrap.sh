#!/usr/bin/env bash
# Installs the Debian packages that this machine lacks, and nothing when all are there.
#   bootstrap.sh build   what building and running the program needs
#   bootstrap.sh test    that, plus what the test suite needs
set -euo pipefail

build_packages=(cmake ninja-build g++ qt6-base-dev libgl-dev libx11-dev fonts-dejavu-core
    libopencv-core-dev libopencv-imgproc-dev libopencv-flann-dev libopencv-features2d-dev
    libjpeg62-turbo-dev zlib1g-dev libdeflate-dev libexif-dev libgif-dev libwebp-dev
    libimagequant-dev liblcms2-dev libheif-dev
    qt6-image-formats-plugins help2man)
test_packages=(xvfb xauth xdotool x11-utils imagemagick desktop-file-utils appstream dpkg-dev file
    lintian man-db bash-completion libpng-dev ffmpeg libimage-exiftool-perl
    libheif-examples
    slurm-wlm munge parallel jq yq podman)

case "${1:-build}" in
build) wanted=("${build_packages[@]}") ;;
test) wanted=("${build_packages[@]}" "${test_packages[@]}") ;;
*) echo "usage: $0 build|test" >&2; exit 2 ;;
esac

missing=()
for package in "${wanted[@]}"; do
    if ! dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q 'install ok installed'; then
        missing+=("$package")
    fi
done
[ ${#missing[@]} -eq 0 ] && exit 0

as_root=()
[ "$(id -u)" -eq 0 ] || as_root=(sudo)
echo "Installing: ${missing[*]}"
"${as_root[@]}" apt-get update -qq
DEBIAN_FRONTEND=noninteractive "${as_root[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}"
