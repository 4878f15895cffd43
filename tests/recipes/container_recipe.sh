#!/usr/bin/env bash
# dist/Containerfile built with podman from the Debian package, as docs/cluster.md says, and the
# image run: a batch is written, and `podman stop` (SIGTERM to the tool as PID 1) ends a batch
# with 143 well within the grace period. Skipped, with the reason, where podman cannot build or
# run a container (no registry to pull Debian from, no permission to set up a container).
#   container_recipe.sh docs/cluster.md PACKAGE-DIR
set -euo pipefail
here=$(dirname "$0")
source "$here/doc_recipe.sh"

doc=$(realpath "$1")
package_dir=$(realpath "$2")
command -v podman >/dev/null || skip "podman is not installed"
command -v convert >/dev/null || skip "ImageMagick's convert is not installed"
ls "$package_dir"/duoptica_*.deb >/dev/null 2>&1 || skip "no package in $package_dir"
scratch=$(mktemp -d)
image=localhost/duoptica-test-$$:1.0
container=duoptica-test-$$
cleanup() {
    podman rm -f "$container" >/dev/null 2>&1 || true
    podman rmi -f "$image" >/dev/null 2>&1 || true
    rm -rf "$scratch"
}
trap cleanup EXIT

containerfile=$(realpath "$here/../../dist/Containerfile")
base=$(awk '/^FROM /{print $2; exit}' "$containerfile")
if ! podman image exists "$base"; then
    podman pull -q "$base" >"$scratch/pull.log" 2>&1 ||
        skip "podman cannot pull $base: $(tail -n 1 "$scratch/pull.log")"
fi
podman build -q -f "$containerfile" -t "$image" "$package_dir" \
    >"$scratch/build.log" 2>&1 || {
    grep -q 'OCI permission denied\|operation not permitted' "$scratch/build.log" &&
        skip "podman cannot run a container here: $(tail -n 1 "$scratch/build.log")"
    fail "podman build failed: $(cat "$scratch/build.log")"
}

work=$scratch/archive
make_stereo_pairs "$work/stereo" 40
podman run --rm -v "$work:/archive" "$image" duoptica-combine --mode red-blue \
    --report /archive/reports/shard-0.jsonl --batch /archive/stereo /archive/anaglyphs ||
    fail "the image did not combine the batch"
check_batch_done "$work" "$work/stereo" "$work/anaglyphs" "$doc"

rm -rf "$work/anaglyphs" "$work/reports"
podman run -d --name "$container" -v "$work:/archive" "$image" duoptica-combine \
    --report /archive/reports/shard-0.jsonl --batch /archive/stereo /archive/anaglyphs >/dev/null
until [ -n "$(ls "$work/anaglyphs" 2>/dev/null)" ]; do
    [ "$(podman inspect -f '{{.State.Running}}' "$container")" = true ] ||
        fail "the container ended before it was stopped"
    sleep 0.1
done
started=$(date +%s%N)
podman stop --time 10 "$container" >/dev/null
took=$((($(date +%s%N) - started) / 1000000))
status=$(podman inspect -f '{{.State.ExitCode}}' "$container")
echo "podman stop took $took ms, exit $status"
[ "$status" -eq 143 ] || fail "the tool as PID 1 exited with $status on SIGTERM, not 143"
[ "$took" -lt 5000 ] || fail "podman stop took $took ms: SIGTERM was not heeded"
grep -q '^{"type":"summary".*"interrupted":true' "$work/reports/shard-0.jsonl" ||
    fail "no interrupted summary"
