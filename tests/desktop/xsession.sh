# Shared by the desktop tests: a private Xvfb server, the processes a test starts, and waiting
# for windows and titles by polling with a deadline. Source it; it sets an EXIT trap.

readonly SKIP=77 # CTest's SKIP_RETURN_CODE for these tests

workdir=$(mktemp -d "${TMPDIR:-/tmp}/duoptica-desktop.XXXXXX")
started_pids=()

# The newest first, so that the program goes before its X server.
stop_started() {
    local i pid
    for ((i = ${#started_pids[@]} - 1; i >= 0; i--)); do
        kill "${started_pids[i]}" 2>/dev/null || true
    done
    for pid in "${started_pids[@]}"; do
        wait "$pid" 2>/dev/null || true
    done
    rm -rf "$workdir"
}
trap stop_started EXIT

fail() {
    echo "FAIL: $*" >&2
    exit 1
}

skip() {
    echo "SKIPPED: $*"
    exit "$SKIP"
}

# Polls a command until it succeeds; false once the given number of seconds have passed.
poll_for() {
    local seconds=$1
    shift
    local deadline=$((SECONDS + seconds))
    until "$@"; do
        ((SECONDS < deadline)) || return 1
        sleep 0.05
    done
}

# The same, but failing the test on time-out.
wait_until() {
    local seconds=$1 what=$2
    shift 2
    poll_for "$seconds" "$@" || fail "timed out after ${seconds}s waiting for $what"
}

# Starts Xvfb on a display number it picks itself and exports DISPLAY. Where no X server can be
# started the test is skipped, with the reason.
start_xvfb() {
    command -v Xvfb >/dev/null || skip "no X server can be started: Xvfb is not installed (./scripts/bootstrap.sh test installs it)"
    local display_file="$workdir/xvfb.display"
    : >"$display_file"
    Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp 3>"$display_file" 2>"$workdir/xvfb.log" &
    local xvfb=$!
    started_pids+=("$xvfb")
    local deadline=$((SECONDS + 30))
    until [ -s "$display_file" ]; do
        if ! kill -0 "$xvfb" 2>/dev/null || ((SECONDS >= deadline)); then
            skip "no X server can be started: Xvfb did not come up: $(tail -n 3 "$workdir/xvfb.log" | tr '\n' ' ')"
        fi
        sleep 0.05
    done
    export DISPLAY=":$(head -n 1 "$display_file")"
    # The program under test must meet a plain X server: no desktop settings, no platform theme,
    # so its file dialogs are Qt's own.
    unset WAYLAND_DISPLAY XDG_CURRENT_DESKTOP DESKTOP_SESSION QT_QPA_PLATFORMTHEME QT_STYLE_OVERRIDE
    export QT_QPA_PLATFORM=xcb
    export XDG_RUNTIME_DIR="$workdir/runtime"
    mkdir -m 700 "$XDG_RUNTIME_DIR"
}

# Starts a program on the X server, logging its output; sets app_pid.
start_program() {
    "$@" >"$workdir/program.log" 2>&1 &
    app_pid=$!
    started_pids+=("$app_pid")
}

program_log() {
    echo "--- program output ---" >&2
    cat "$workdir/program.log" >&2 || true
}

# Prints the ids of the program's mapped windows, one a line.
visible_windows() {
    xdotool search --onlyvisible --pid "$app_pid" 2>/dev/null || true
}

# Waits for the program's window with exactly this title; sets main_window.
wait_for_main_window() {
    local title=$1
    main_window=""
    find_main() {
        kill -0 "$app_pid" 2>/dev/null || { program_log; fail "the program ended before showing its window"; }
        main_window=$(xdotool search --onlyvisible --pid "$app_pid" --name "^${title}\$" 2>/dev/null | head -n 1)
        [ -n "$main_window" ]
    }
    wait_until 30 "a window titled \"$title\"" find_main
}

title_of() {
    xdotool getwindowname "$1" 2>/dev/null || true
}

# Waits until the window's title matches the extended regular expression; sets last_title.
wait_for_title() {
    local window=$1 pattern=$2 seconds=$3
    title_matches() {
        last_title=$(title_of "$window")
        [[ $last_title =~ $pattern ]]
    }
    local deadline=$((SECONDS + seconds))
    until title_matches; do
        if ((SECONDS >= deadline)); then
            program_log
            fail "the title never matched /$pattern/ within ${seconds}s; it reads \"$last_title\""
        fi
        sleep 0.05
    done
}

# True once the program has ended (an unreaped child lingers as a zombie, state Z).
program_ended() {
    local stat
    stat=$(cat "/proc/$app_pid/stat" 2>/dev/null) || return 0
    stat=${stat##*) }
    [ "${stat%% *}" = Z ]
}

# Waits until the program has ended; sets exit_status. (Not for $(...): a subshell cannot wait
# for its parent's child.)
wait_for_exit() {
    local seconds=$1
    wait_until "$seconds" "the program to end" program_ended
    exit_status=0
    wait "$app_pid" || exit_status=$?
}
