#!/usr/bin/env bash
# Remakes the before and after pictures of docs/combine.md's stereo section: a stereo pair drawn
# here with ImageMagick (discs at three depths, each shifted between the eyes by its own amount),
# packed side by side by duoptica-combine --to parallel, and the red/cyan Dubois anaglyph it makes
# of it.
set -euo pipefail
cd "$(dirname "$0")/.."
./scripts/bootstrap.sh test
cmake --preset dev >/dev/null
cmake --build --preset dev --target duoptica-combine
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# One eye: a sky-to-ground backdrop and three discs; $1 shifts the near, middle and far discs by
# 3, 2 and 1 times as much (0 for the left eye).
eye() {
    local s=$1
    convert -size 360x240 gradient:'#9cc7ef'-'#6b8e4e' \
        -fill '#f2c230' -stroke '#5a4300' -strokewidth 3 \
        -draw "circle $((70 - s)),80 $((70 - s)),40" \
        -fill '#d9483b' -stroke '#4d120c' \
        -draw "circle $((190 - 2 * s)),130 $((190 - 2 * s)),85" \
        -fill '#3d7fd9' -stroke '#0f2a4d' \
        -draw "circle $((280 - 3 * s)),175 $((280 - 3 * s)),140" \
        "$2"
}
eye 0 "$work/left.png"
eye 6 "$work/right.png"
mkdir -p docs
build/dev/cli/duoptica-combine --to parallel "$work/left.png" "$work/right.png" \
    docs/stereo-pair-parallel.png
build/dev/cli/duoptica-combine --layout parallel --mode dubois-red-cyan \
    docs/stereo-pair-parallel.png docs/stereo-dubois-red-cyan.png
echo "wrote docs/stereo-pair-parallel.png and docs/stereo-dubois-red-cyan.png"
