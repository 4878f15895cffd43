#!/usr/bin/env bash
# `cmake --install` into a scratch prefix: the programs land in bin/, and the desktop entry, the
# icon and the AppStream metainfo land where desktops look, valid and naming each other.
#   check_install.sh BUILD-DIR VERSION "PROGRAM..."
set -euo pipefail
source "$(dirname "$0")/xsession.sh"

build_dir=$1 version=$2
read -ra programs <<<"$3"
prefix="$workdir/prefix"
cmake --install "$build_dir" --prefix "$prefix" >/dev/null

app_id=org.duoptica.Duoptica
desktop_entry="$prefix/share/applications/$app_id.desktop"
icon="$prefix/share/icons/hicolor/scalable/apps/$app_id.svg"
metainfo="$prefix/share/metainfo/$app_id.metainfo.xml"

for program in "${programs[@]}"; do
    [ -x "$prefix/bin/$program" ] || fail "bin/$program was not installed"
done
for file in "$desktop_entry" "$icon" "$metainfo"; do
    [ -f "$file" ] || fail "${file#"$prefix"/} was not installed"
done

desktop-file-validate "$desktop_entry" || fail "desktop-file-validate rejects the desktop entry"
appstreamcli validate --no-net "$metainfo" || fail "appstreamcli rejects the metainfo"

# The three files must agree with each other and with what was installed.
grep -qx 'Exec=duoptica' "$desktop_entry" || fail "the desktop entry does not start duoptica"
grep -qx "Icon=$app_id" "$desktop_entry" || fail "the desktop entry does not name the installed icon"
grep -q '^Categories=Graphics;' "$desktop_entry" || fail "the desktop entry is not in Graphics"
grep -q "<launchable type=\"desktop-id\">$app_id.desktop</launchable>" "$metainfo" ||
    fail "the metainfo does not launch the installed desktop entry"
newest_release=$(grep -o '<release version="[^"]*"' "$metainfo" | head -n 1 | cut -d'"' -f2)
[ "$newest_release" = "$version" ] ||
    fail "the metainfo's newest release is $newest_release, the project's version is $version"
file --brief --mime-type "$icon" | grep -qx 'image/svg+xml' || fail "the icon is not an SVG picture"

echo "installed and valid: ${programs[*]/#/bin/} and the desktop entry, icon and metainfo of $app_id"
