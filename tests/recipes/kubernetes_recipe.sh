#!/usr/bin/env bash
# docs/cluster.md's Kubernetes Indexed Job, checked offline: the manifest parses, fails an index on
# exit 6 rather than retrying it, and names the image dist/Containerfile is built as; then each
# index's pod is played here as Kubernetes would start it (its command, with
# $(JOB_COMPLETION_INDEX) filled in and the manifest's environment), /archive being a scratch
# folder with no reports/ in it. Every pair is written once and the reports add up.
#   kubernetes_recipe.sh docs/cluster.md DUOPTICA-COMBINE
set -euo pipefail
here=$(dirname "$0")
source "$here/doc_recipe.sh"

doc=$(realpath "$1")
tool=$(realpath "$2")
command -v yq >/dev/null || skip "yq is not installed"
command -v jq >/dev/null || skip "jq is not installed"
command -v convert >/dev/null || skip "ImageMagick's convert is not installed"
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT

manifest=$scratch/duoptica-job.yaml
doc_block_after "$doc" "**Kubernetes Indexed Job**" >"$manifest"
job=$(yq -c . "$manifest") || fail "the manifest is no YAML"
field() { jq -r "$1" <<<"$job"; }
[ "$(field .kind)" = Job ] || fail "the manifest is no Job"
[ "$(field .spec.completionMode)" = Indexed ] || fail "the Job is not Indexed"
jq -e '.spec.podFailurePolicy.rules[] | select(.action == "FailIndex")
       | .onExitCodes | select(.operator == "In" and (.values | index(6)))' <<<"$job" >/dev/null ||
    fail "exit 6 does not fail its index"
[ "$(field '.spec.backoffLimitPerIndex // empty')" != "" ] ||
    fail "FailIndex needs backoffLimitPerIndex"
completions=$(field .spec.completions)
container='.spec.template.spec.containers[0]'
[ "$(field "$container.env[] | select(.name == \"DUOPTICA_SHARD_COUNT\") | .value")" = \
    "$completions" ] || fail "DUOPTICA_SHARD_COUNT is not the Job's completions"
image=$(field "$container.image")
grep -q -- "-t $image " "$doc" || fail "no build command in $doc tags the image $image"
[ -f "$here/../../dist/Containerfile" ] || fail "dist/Containerfile is missing"

work=$scratch/archive
make_stereo_pairs "$work/stereo" 20
mapfile -t command < <(field "$container.command[]")
[ "${command[0]}" = duoptica-combine ] || fail "the pods do not run duoptica-combine"
for index in $(seq 0 $((completions - 1))); do
    arguments=()
    for argument in "${command[@]:1}"; do
        argument=${argument//\$(JOB_COMPLETION_INDEX)/$index}
        arguments+=("${argument//\/archive/$work}")
    done
    status=0
    JOB_COMPLETION_INDEX=$index DUOPTICA_SHARD_COUNT=$completions \
        "$tool" "${arguments[@]}" >"$scratch/pod-$index.out" 2>&1 || status=$?
    [ $status -eq 0 ] || fail "pod $index exited with $status: $(cat "$scratch/pod-$index.out")"
done
check_batch_done "$work" "$work/stereo" "$work/anaglyphs" "$doc"
