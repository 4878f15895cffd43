#!/usr/bin/env bash
# A person's session with Duoptica on a real X server, driven only through X input events: load
# two pictures through the file dialog, run "Red-Blue", save the result and compare it with the
# combining rule; then stop a run, and close the window in the middle of one.
#   e2e.sh PROGRAM SEND-CLOSE-REQUEST EXPECT-COMBINED [SCREENSHOT.png]
# With a screenshot path, the window after the "Red-Blue" run is saved there as PNG.
set -euo pipefail
source "$(dirname "$0")/xsession.sh"

program=$1 send_close_request=$2 expect_combined=$3 screenshot=${4:-}
for tool in xdotool convert import; do
    command -v "$tool" >/dev/null || fail "$tool is missing; ./scripts/bootstrap.sh test installs it"
done

# A stereo pair: the same scene, its nearer shapes shifted further between left and right. A JPEG
# and a GIF, so both of the readers Qt loads as plugins are exercised; saving writes the BMP.
scene() {
    local shift=$1 file=$2
    convert -size 600x384 gradient:'#a8d0f4'-'#2c5a80' \
        -fill '#f2c14e' -draw "circle $((470 + shift / 3)),90 $((470 + shift / 3)),50" \
        -fill '#c0392b' -draw "rectangle $((70 + shift)),200 $((230 + shift)),340" \
        -fill '#2e86de' -draw "polygon $((300 + shift / 2)),340 $((380 + shift / 2)),150 $((460 + shift / 2)),340" \
        -fill '#f5f5f5' -draw "ellipse $((150 + shift / 3)),70 60,22 0,360" \
        "$file"
}
left="$workdir/left.jpg" right="$workdir/right.gif" saved="$workdir/red-blue.bmp"
scene 0 "$left"
scene -18 "$right"

# Where the controls sit in the window (pixels from its top left corner).
readonly red_blue_x=470 red_blue_y=22 red_blue_dot_x=452 red_blue_dot_y=20 save_x=344 save_y=20

# xdotool's --sync waits without end; a focus or pointer move that never happens must fail.
focus() {
    timeout 10 xdotool windowfocus --sync "$1" || fail "window $1 never took the keyboard focus"
}

press() {
    focus "$main_window"
    xdotool key --clearmodifiers "$1"
}

# A move with --sync to where the pointer already is would never end, so that move is left out.
click() {
    local x=$1 y=$2 X Y WIDTH HEIGHT SCREEN WINDOW
    eval "$(xdotool getwindowgeometry --shell "$main_window")"
    local target_x=$((X + x)) target_y=$((Y + y))
    eval "$(xdotool getmouselocation --shell)"
    if ((X != target_x || Y != target_y)); then
        timeout 10 xdotool mousemove --sync --window "$main_window" "$x" "$y" ||
            fail "the pointer never reached ($x, $y) in the window"
    fi
    xdotool click 1
}

# A file dialog of the program: a mapped window of the dialog type. The file name completer's
# list is a window of its own, which may stay mapped for a moment after its dialog has closed.
find_dialog() {
    local window
    for window in $(visible_windows); do
        if xprop -id "$window" _NET_WM_WINDOW_TYPE 2>/dev/null | grep -q _NET_WM_WINDOW_TYPE_DIALOG; then
            dialog=$window
            return 0
        fi
    done
    return 1
}

dialog_closed() {
    ! visible_windows | grep -qx "$dialog"
}

# On a loaded machine a key or click can come before the window has taken in that it is active,
# or while a closing dialog still holds the pointer, and it is then lost. So each action whose
# effect can be seen from outside is repeated until that effect shows.

# Does the action (a press or a click) until a file dialog shows.
open_dialog() {
    local attempt
    for attempt in 1 2 3; do
        "$@"
        poll_for 10 find_dialog && return 0
    done
    program_log
    fail "no file dialog came after three tries of: $*"
}

# Types a path into the file dialog that is open and accepts it. A Return may first only close
# the file name completer's list, so it is pressed again while the dialog stays.
choose_in_dialog() {
    local path=$1
    focus "$dialog"
    xdotool key --clearmodifiers ctrl+a
    xdotool type --clearmodifiers --delay 15 "$path"
    local attempt
    for attempt in 1 2 3; do
        xdotool key --clearmodifiers Return
        poll_for 3 dialog_closed && return 0
    done
    program_log
    fail "the file dialog did not take $path"
}

# The window's picture shows the dark dot of a selected option button in Red-Blue's indicator.
red_blue_selected() {
    local brightness
    brightness=$(import -window "$main_window" png:- 2>/dev/null |
        convert png:- -crop "5x5+${red_blue_dot_x}+${red_blue_dot_y}" -colorspace gray \
            -format '%[fx:mean]' info:) && [ -n "$brightness" ] || return 1
    awk -v b="$brightness" 'BEGIN { exit !(b < 0.7) }'
}

# A click on a selected option button changes nothing, so clicking again is safe.
select_red_blue() {
    local attempt
    for attempt in 1 2 3 4 5; do
        click "$red_blue_x" "$red_blue_y"
        poll_for 3 red_blue_selected && return 0
    done
    fail "five clicks never selected Red-Blue"
}

title_is_not() {
    [[ $(title_of "$main_window") != "$1" ]]
}

# Starts a run and waits until its title shows progress matching the pattern. A whole run takes
# only a few tenths of a second on a quick machine, and one poll of the title costs a process
# start, so the patterns stay wide; a run whose wanted titles slipped past the poll is let finish
# and started again.
catch_a_run() {
    local pattern=$1 attempt deadline
    for attempt in 1 2 3 4 5; do
        press alt+g
        deadline=$((SECONDS + 5))
        while ((SECONDS < deadline)); do
            last_title=$(title_of "$main_window")
            [[ $last_title =~ $pattern ]] && return 0
            [[ $last_title =~ ^[0-9]+%$ && $last_title != 0% ]] && break
            sleep 0.01
        done
        wait_for_title "$main_window" '^Done!$' 60
    done
    program_log
    fail "five runs in a row never showed a title matching /$pattern/"
}

early='^([1-9]|[1-7][0-9])%$' # a run's title in its first four fifths

start_xvfb
start_program "$program"
wait_for_main_window Duoptica
echo "window $main_window on $DISPLAY"

open_dialog press alt+l
choose_in_dialog "$left"
open_dialog press alt+r
choose_in_dialog "$right"
select_red_blue
for attempt in 1 2 3; do
    press alt+g
    poll_for 10 title_is_not Duoptica && break
done
wait_for_title "$main_window" '^Done!$' 120
echo "Red-Blue run: Done!"
if [ -n "$screenshot" ]; then
    import -window "$main_window" "$screenshot"
    echo "screenshot: $screenshot"
fi

open_dialog click "$save_x" "$save_y"
choose_in_dialog "$saved"

# That a new run starts at all proves the Save handler has returned, so the file is complete.
catch_a_run "$early"
[ -f "$saved" ] || fail "Save wrote no file at $saved"
"$expect_combined" Red-Blue "$left" "$right" "$saved" >"$workdir/expect.log" 2>&1 ||
    { cat "$workdir/expect.log" >&2; fail "the saved picture is not the Red-Blue combination"; }
grep -q ' 600 x 384 pixels' "$workdir/expect.log" ||
    { cat "$workdir/expect.log" >&2; fail "the saved picture is not the output's 600 x 384 pixels"; }
cat "$workdir/expect.log"
wait_for_title "$main_window" '^Done!$' 60

# A run stopped with Alt+S. A whole run may take only a few tenths of a second, so a stop that
# comes too late for one run is tried on the next, and only a stop that never takes fails.
stopped=""
for attempt in 1 2 3 4 5; do
    catch_a_run "$early"
    xdotool key --clearmodifiers alt+s
    wait_for_title "$main_window" '^(Canceled by user at [0-9]+%|Done!)$' 30
    [[ $last_title == Done! ]] || { stopped=$last_title; break; }
done
[ -n "$stopped" ] || fail "Alt+S, pressed early in each of five runs, stopped none of them"
[[ $stopped =~ at\ ([0-9]+)% ]] && ((BASH_REMATCH[1] < 100)) ||
    fail "the stop title names no percentage short of 100: $stopped"
echo "stopped run: $stopped"

# A close request in the middle of a run ends the process within a second, with status 0.
catch_a_run "$early"
started_ns=$(date +%s%N)
"$send_close_request" "$main_window" || fail "the window refused the close request"
wait_for_exit 10
elapsed_ms=$((($(date +%s%N) - started_ns) / 1000000))
[ "$exit_status" -eq 0 ] || { program_log; fail "closing during a run ended the program with status $exit_status"; }
((elapsed_ms <= 1000)) || fail "closing during a run took ${elapsed_ms} ms to end the program"
echo "closed during a run at $last_title: ended with status 0 after ${elapsed_ms} ms"
