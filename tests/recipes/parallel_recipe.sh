#!/usr/bin/env bash
# docs/cluster.md's GNU parallel recipe as a user runs it, with this machine as its one host
# (--sshlogin :) and a scratch folder as the archive: every pair is written once, and running
# the same line again finds nothing left and keeps the first run's reports.
#   parallel_recipe.sh docs/cluster.md DUOPTICA-COMBINE
set -euo pipefail
here=$(dirname "$0")
source "$here/doc_recipe.sh"

doc=$(realpath "$1")
tool=$(realpath "$2")
command -v parallel >/dev/null || skip "GNU parallel is not installed"
command -v convert >/dev/null || skip "ImageMagick's convert is not installed"
command -v jq >/dev/null || skip "jq is not installed"
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
export HOME=$scratch # parallel keeps its state in ~/.parallel
export PATH="$(dirname "$tool"):$PATH"

work=$scratch/archive
make_stereo_pairs "$work/stereo" 30
recipe=$(doc_block_after "$doc" "**GNU parallel over several hosts**")
grep -q -- '--sshlogin node1,node2,node3' <<<"$recipe" || fail "no parallel recipe in $doc"
recipe=${recipe//--sshlogin node1,node2,node3/--sshlogin :}
recipe=${recipe//cd \/archive/cd "$work"}

(eval "$recipe") >"$scratch/first.out" 2>&1 || fail "the recipe failed: $(cat "$scratch/first.out")"
check_batch_done "$work" "$work/stereo" "$work/anaglyphs" "$doc"
(eval "$recipe") >"$scratch/second.out" 2>&1 || fail "the rerun failed: $(cat "$scratch/second.out")"
check_batch_done "$work" "$work/stereo" "$work/anaglyphs" "$doc"
[ "$(cat "$work"/reports/*.jsonl | grep -c '^{"type":"summary"')" -eq 24 ] ||
    fail "the reports do not hold a summary of each shard's two runs"
