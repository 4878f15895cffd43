#!/usr/bin/env bash
# The package as Debian would take it: lintian finds no error and no warning, the changelog's
# newest entry is the package's version, and man finds both manual pages, duoptica-combine's
# naming every option its --help gives.
#   package_lintian.sh PACKAGE-DIR
# lintian's info tags are shown but allowed: hardening-no-fortify-functions and
# hardening-no-bindnow (the build uses the project's compiler flags, not dpkg-buildflags) and
# binary-has-unneeded-section (CPack strips without removing .comment).
set -euo pipefail
source "$(dirname "$0")/xsession.sh"

package=$(find "$1" -maxdepth 1 -name 'duoptica_*.deb' | head -n 1)
[ -f "$package" ] || fail "no package in $1; the package test makes it"
command -v lintian >/dev/null ||
    skip "lintian is not installed (scripts/bootstrap.sh test installs it)"

# lintian warns when run as root, which is no finding about the package.
lintian --fail-on error,warning --display-info "$package" 2> >(grep -v 'root privileges' >&2) ||
    fail "lintian finds errors or warnings in $(basename "$package")"

root="$workdir/root"
dpkg-deb --extract "$package" "$root"
version=$(dpkg-deb --field "$package" Version)
zcat "$root/usr/share/doc/duoptica/changelog.gz" >"$workdir/changelog"
newest=$(dpkg-parsechangelog -l "$workdir/changelog" -S Version)
[ "$newest" = "$version" ] ||
    fail "the changelog's newest entry is $newest, the package's version is $version"

export MANPATH="$root/usr/share/man" MANWIDTH=100
for program in $(dpkg-deb --contents "$package" | awk '$6 ~ "^./usr/bin/." {print $6}'); do
    program=$(basename "$program")
    page=$(man "$program") || fail "man finds no page for $program"
    for section in NAME SYNOPSIS DESCRIPTION "EXIT STATUS" "SEE ALSO"; do
        grep -qx "$section" <<<"$page" || fail "$program(1) has no $section section"
    done
    if [ "$program" = duoptica-combine ]; then
        grep -qx EXAMPLES <<<"$page" || fail "$program(1) has no EXAMPLES section"
        options=$("$root/usr/bin/$program" --help | grep -oE '^  (-h, )?--[a-z-]+' |
            grep -oE -- '--.*')
        for option in $options; do
            grep -qF -- "$option" <<<"$page" || fail "$program(1) lacks $option, which --help gives"
        done
    fi
done
echo "$(basename "$package"): lintian finds no error or warning; man shows both pages"
