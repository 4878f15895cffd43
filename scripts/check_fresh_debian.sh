#!/usr/bin/env bash
# Installs the Debian package on a fresh, minimal Debian 12 made with debootstrap in a scratch
# folder, and runs there, against the installed files, the end-to-end test, man on both manual
# pages and the completion test. Needs root and the Debian archive this machine's apt uses (or
# MIRROR=URL); takes a few minutes and a few hundred MB, so it is a release check, not part of the
# suite. The machine itself is not changed: everything goes into the scratch root, which is
# removed at the end (pass KEEP_ROOT=1 to keep it for a look).
set -euo pipefail
cd "$(dirname "$0")/.."
[ "$(id -u)" -eq 0 ] || { echo "run as root: debootstrap and chroot need it" >&2; exit 2; }

# The archive this machine's apt already takes bookworm's main component from, as apt itself
# reads its sources (sources.list and .sources files alike).
# shellcheck disable=SC2016 # apt's format fields, not the shell's
mirror=${MIRROR:-$(apt-get indextargets --no-release-info --format '$(RELEASE) $(COMPONENT) $(REPO_URI)' \
    'Created-By: Packages' | awk '$1 == "bookworm" && $2 == "main" && !found { print $3; found = 1 }')}
[ -n "$mirror" ] ||
    { echo "apt's sources name no archive of bookworm main; give one as MIRROR=URL" >&2; exit 2; }

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

echo "debootstrap: a minimal Debian 12 in $root, from $mirror"
debootstrap --variant=minbase bookworm "$root" "$mirror" >"$root.log" 2>&1 ||
    { tail "$root.log" >&2; exit 1; }
rm -f "$root.log"
cp "$package" "$root/tmp/"
echo "installing $(basename "$package") with apt, then the test's own tools"
in_root() {
    chroot "$root" /bin/sh -c "$1" >"$root/tmp/apt.log" 2>&1 || { tail "$root/tmp/apt.log" >&2; exit 1; }
}
in_root "apt-get update && DEBIAN_FRONTEND=noninteractive apt-get install -y \
    --no-install-recommends /tmp/$(basename "$package")"
# xprop (x11-utils) tells the end-to-end test a dialog from other windows; man-db and
# bash-completion read the manual pages and the completion as a user's system would.
in_root 'DEBIAN_FRONTEND=noninteractive apt-get install -y --no-install-recommends xvfb xdotool \
    x11-utils imagemagick procps man-db bash-completion'
mkdir -p "$root/opt/e2e"
cp tests/desktop/e2e.sh tests/desktop/xsession.sh tests/combine_completion.sh \
    "$build/tests/desktop/send_close_request" "$build/tests/desktop/expect_combined" "$root/opt/e2e/"
mount -t proc proc "$root/proc"
chroot "$root" /bin/bash -c 'cd /opt/e2e && ./e2e.sh /usr/bin/duoptica ./send_close_request ./expect_combined'

echo "man: both manual pages as installed"
# shellcheck disable=SC2016 # expanded by the shell in the root
chroot "$root" /bin/bash -c '
    set -euo pipefail
    export MANWIDTH=100
    for program in duoptica duoptica-combine; do
        man -w "$program" >/dev/null || { echo "man finds no page for $program" >&2; exit 1; }
        man "$program" >"/tmp/$program.page" 2>/dev/null
        for section in NAME SYNOPSIS DESCRIPTION; do
            grep -qx "$section" "/tmp/$program.page" ||
                { echo "$program(1) as installed has no $section section" >&2; exit 1; }
        done
    done
    for option in $(duoptica-combine --help | grep -oE "^  (-h, )?--[a-z-]+" | grep -oE -- "--.*"); do
        grep -qF -- "$option" /tmp/duoptica-combine.page ||
            { echo "duoptica-combine(1) as installed lacks $option" >&2; exit 1; }
    done'
echo "bash completion: as installed, against the installed program"
chroot "$root" /bin/bash -c 'cd /opt/e2e && ./combine_completion.sh /usr/bin/duoptica-combine \
    /usr/share/bash-completion/completions/duoptica-combine'
echo "the package installs and works on a fresh Debian 12"
