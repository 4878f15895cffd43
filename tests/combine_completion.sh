#!/usr/bin/env bash
# The bash completion of duoptica-combine, as bash-completion loads it: options, modes, layouts
# and formats the program takes, folders after --batch, files elsewhere.
#   combine_completion.sh PROGRAM COMPLETION-FILE
set -euo pipefail

program=$(realpath "$1") completion=$(realpath "$2")
readonly SKIP=77
[ -f /usr/share/bash-completion/bash_completion ] ||
    { echo "SKIPPED: bash-completion is not installed"; exit "$SKIP"; }
fail() {
    echo "FAIL: $*" >&2
    exit 1
}

set +eu # bash-completion is not written for either
# shellcheck source=/dev/null
source /usr/share/bash-completion/bash_completion
# shellcheck source=/dev/null
source "$completion"
complete -p duoptica-combine >/dev/null ||
    fail "the completion file registers nothing for duoptica-combine"

# What bash offers for the last word of the command line given after the program's name.
offered() {
    COMP_WORDS=("$program" "$@")
    COMP_CWORD=$((${#COMP_WORDS[@]} - 1))
    COMP_LINE="${COMP_WORDS[*]}"
    COMP_POINT=${#COMP_LINE}
    COMPREPLY=()
    _duoptica_combine "$program" "${COMP_WORDS[COMP_CWORD]}" "${COMP_WORDS[COMP_CWORD - 1]}"
    printf '%s\n' "${COMPREPLY[@]}" | sort -u | tr '\n' ' '
}

expect() {
    local wanted=$1
    shift
    local got
    got=$(offered "$@")
    [ "$got" = "$wanted" ] || fail "after '$*' bash offers '$got', not '$wanted'"
}

folder=$(mktemp -d "${TMPDIR:-/tmp}/duoptica-completion.XXXXXX")
trap 'rm -rf "$folder"' EXIT
cd "$folder"
mkdir stereo anaglyphs
touch left.tif right.webp album.tif

expect '--mode ' --mo
expect '--skip-existing ' --sk
expect 'cross over-under pair parallel ' --layout ''
expect 'bmp jpg png ' --format ''
expect 'red-blue red-green ' --mode red-
expect 'red-blue ' --mode=red-b
expect 'anaglyphs ' --batch stereo a
expect 'album.tif anaglyphs ' --mode red-blue a

# Every mode offered is one the program takes, and the modes are the ones its help lists.
modes=$(offered --mode '')
[ "$(wc -w <<<"$modes")" -ge 3 ] || fail "bash offers too few modes: $modes"
for mode in $modes; do
    if "$program" --mode "$mode" 2>&1 | grep -q 'unknown mode'; then
        fail "bash offers mode $mode, which the program refuses"
    fi
done
for option in $("$program" --help | grep -oE '^  (-h, )?--[a-z-]+' | grep -oE -- '--.*'); do
    grep -qw -- "$option" <<<"$(offered --)" || fail "bash does not offer $option"
done
echo "bash completes the options, $(wc -w <<<"$modes") modes, the layouts, the formats and the" \
    "files of duoptica-combine"
