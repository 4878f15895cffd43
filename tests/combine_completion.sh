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
expect '--pair-names ' --pai
expect '--fit ' --fi
expect ' ' --fit '' # nothing: a frame's size, not a file
expect 'cross over-under pair parallel ' --layout ''
expect 'bmp gif heic jpg jps mpo png webp ' --format ''
expect 'webp ' --format=w
expect 'anaglyph checkerboard columns cross half-over-under half-parallel heic jps mpo over-under pair '\
'parallel rows wiggle ' --to ''
expect 'half-over-under half-parallel ' --to half-
expect 'album.tif anaglyphs ' --report a
expect ' ' --quality '' # nothing: a number, not a file
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
# Every --to and --format value the help lists is offered, and every output offered is taken.
help=$("$program" --help)
outputs=$(offered --to '')
for output in $(awk '/^  --to /{ inside = 1; next } inside && /^  -/{ exit }
                     inside && /^    [a-z]/{ print $1 }' <<<"$help"); do
    grep -qw -- "$output" <<<"$outputs" || fail "bash does not offer --to $output"
done
for output in $outputs; do
    if "$program" --to "$output" l.bmp r.bmp o.bmp 2>&1 | grep -q 'unknown output'; then
        fail "bash offers --to $output, which the program refuses"
    fi
done
formats=$(awk '/^  --format /{ inside = 1 } inside && /^  --/ && !/^  --format /{ exit }
               inside' <<<"$help" | sed -E 's/.*format: //; s/\([^)]*\)//g; s/,|\<or\>/ /g')
[ "$(wc -w <<<"$formats")" -ge 3 ] || fail "the help lists too few formats: $formats"
for format in $formats; do
    grep -qw -- "$format" <<<"$(offered --format '')" || fail "bash does not offer --format $format"
done
for option in $("$program" --help | grep -oE '^  (-h, )?--[a-z-]+' | grep -oE -- '--.*'); do
    grep -qw -- "$option" <<<"$(offered --)" || fail "bash does not offer $option"
done
echo "bash completes the options, $(wc -w <<<"$modes") modes, $(wc -w <<<"$outputs") outputs," \
    "$(wc -w <<<"$formats") formats, the layouts and the files of duoptica-combine"
