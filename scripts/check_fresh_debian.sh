#!/usr/bin/env bash
# Installs the Debian package on a fresh, minimal Debian 12 made with debootstrap in a scratch
# folder, and runs the end-to-end test there against the installed program. Needs root and the
# Debian archive; takes a few minutes and a few hundred MB, so it is a release check, not part of
# the suite. The machine itself is not changed: everything goes into the scratch root, which is
# removed at the end (pass KEEP_ROOT=1 to keep it for a look).
set -euo pipefail
cd "$(dirname "$0")/.."
[ "$(id -u)" -eq 0 ] || { echo "run as root: debootstrap and chroot need it" >&2; exit 2; }

./scripts/bootstrap.sh test
command -v debootstrap >/dev/null || DEBIAN_FRONTEND=noninteractive apt-get install -y -qq debootstrap
cmake --preset dev >/dev/null
cmake --build --preset dev
build=build/dev
package_dir=$(mktemp -d)
(cd "$build" && cpack -G DEB -B "$package_dir" >/dev/null)
package=$(find "$package_dir" -maxdepth 1 -name 'duoptica_*.deb')

root=$(mktemp -d /var/tmp/duoptica-fresh-debian.XXXXXX)
cleanup() {
    umount "$root/proc" 2>/dev/null || true
    [ "${KEEP_ROOT:-0}" = 1 ] && echo "kept: $root" || rm -rf "$root"
    rm -rf "$package_dir"
}
trap cleanup EXIT

echo "debootstrap: a minimal Debian 12 in $root"
debootstrap --variant=minbase bookworm "$root" http://deb.debian.org/debian >"$root.log" 2>&1 ||
    { tail "$root.log" >&2; exit 1; }
rm -f "$root.log"
cp "$package" "$root/tmp/"
echo "installing $(basename "$package") with apt, then the test's own tools"
in_root() {
    chroot "$root" /bin/sh -c "$1" >"$root/tmp/apt.log" 2>&1 || { tail "$root/tmp/apt.log" >&2; exit 1; }
}
in_root "apt-get update && DEBIAN_FRONTEND=noninteractive apt-get install -y \
    --no-install-recommends /tmp/$(basename "$package")"
in_root 'DEBIAN_FRONTEND=noninteractive apt-get install -y --no-install-recommends xvfb xdotool \
    imagemagick procps'
mkdir -p "$root/opt/e2e"
cp tests/desktop/e2e.sh tests/desktop/xsession.sh "$build/tests/desktop/send_close_request" \
    "$build/tests/desktop/expect_combined" "$root/opt/e2e/"
mount -t proc proc "$root/proc"
chroot "$root" /bin/bash -c 'cd /opt/e2e && ./e2e.sh /usr/bin/duoptica ./send_close_request ./expect_combined'
echo "the package installs and works on a fresh Debian 12"
