#!/usr/bin/env bash
# The packaged program, unpacked into a scratch root, starts on a real X server and closes again
# when asked the way a window manager asks.
#   package_starts.sh PACKAGE-DIR SEND-CLOSE-REQUEST
set -euo pipefail
source "$(dirname "$0")/xsession.sh"

package=$(find "$1" -maxdepth 1 -name 'duoptica_*.deb' | head -n 1)
send_close_request=$2
[ -f "$package" ] || fail "no package in $1; the package test makes it"
dpkg-deb --extract "$package" "$workdir/root"

start_xvfb
start_program "$workdir/root/usr/bin/duoptica"
wait_for_main_window Duoptica
"$send_close_request" "$main_window" || fail "the window refused the close request"
wait_for_exit 10
[ "$exit_status" -eq 0 ] || { program_log; fail "the program ended with status $exit_status"; }
echo "the packaged program started on $DISPLAY and closed with status 0"
