#!/usr/bin/env bash
# docs/cluster.md's Slurm job array as a user runs it, on a one-node Slurm cluster started here:
# submitted, cancelled midway, resubmitted; every pair is then written once and the reports add
# up. Skipped, with the reason, where the daemons cannot start.
#   slurm_recipe.sh docs/cluster.md DUOPTICA-COMBINE
set -euo pipefail
here=$(dirname "$0")
source "$here/doc_recipe.sh"
source "$here/slurm_cluster.sh"

doc=$(realpath "$1")
tool=$(realpath "$2")
scratch=$(mktemp -d)
cleanup() {
    stop_slurm_cluster
    rm -rf "$scratch"
}
trap cleanup EXIT
command -v convert >/dev/null || skip "ImageMagick's convert is not installed"
command -v jq >/dev/null || skip "jq is not installed"
cpus_asked=$(doc_block_after "$doc" "**Slurm job array**" | sed -n 's/^#SBATCH --cpus-per-task=//p')
[ "$(nproc)" -ge "${cpus_asked:-1}" ] ||
    skip "the script of $(basename "$doc") asks for $cpus_asked CPUs a task; this machine has $(nproc)"
start_slurm_cluster "$scratch/slurm" || skip "$slurm_failure"
started=$SECONDS

work=$scratch/archive
mkdir -p "$work"
doc_block_after "$doc" "**Slurm job array**" >"$work/duoptica.sbatch"
grep -q '^#SBATCH --array=' "$work/duoptica.sbatch" || fail "no sbatch script in $doc"
make_stereo_pairs "$work/stereo" 48
export PATH="$(dirname "$tool"):$PATH" # sbatch passes the environment on to the tasks
cd "$work"

job_state() { # the states of the job's tasks still known to Slurm, one a line
    squeue -h -j "$1" -o '%T' 2>/dev/null || true
}
wait_for_job() {
    local job=$1 deadline=$((SECONDS + 120))
    while [ -n "$(job_state "$job")" ]; do
        [ $SECONDS -lt $deadline ] || fail "job $job still queued after 120 s: $(squeue)"
        if squeue -h -j "$job" -o '%r' | grep -qE 'PartitionConfig|ReqNodeNotAvail'; then
            fail "job $job cannot run here: $(squeue -j "$job")"
        fi
        sleep 0.5
    done
}

first=$(sbatch --parsable duoptica.sbatch)
# Cancelled once some pairs are written and some tasks are still to run, at best while a task is
# midway through its share (the tasks run one at a time here, each taking pairs/tasks pairs).
tasks=$(sed -n 's/^#SBATCH --array=0-\([0-9]*\)$/\1/p' duoptica.sbatch)
share=$((48 / (tasks + 1)))
deadline=$((SECONDS + 120))
while :; do
    written=$( (find anaglyphs -name '*.bmp' 2>/dev/null || true) | wc -l)
    [ "$written" -ge "$share" ] && [ $((written % share)) -ne 0 ] && break
    [ "$written" -ge $((4 * share)) ] && break
    [ $SECONDS -lt $deadline ] || fail "the first job wrote nothing in 120 s: $(cat duoptica-*.out 2>/dev/null)"
    sleep 0.05
done
scancel "$first"
wait_for_job "$first"
written_first=$(find anaglyphs -name '*.bmp' | wc -l)
echo "cancelled job $first after $written_first of 48 pairs"
[ "$written_first" -lt 48 ] || fail "the first job finished before it was cancelled"
find anaglyphs -type f ! -name 'pair*.bmp' | grep . && fail "the cancel left temporary files"
# A task the cancel stopped midway says so in its report, and exited as SIGTERM asks.
stopped=$(cat reports/*.jsonl | grep -c '^{"type":"summary".*"interrupted":true.*"exit":143' || true)
echo "$stopped task(s) stopped midway by the cancel"

second=$(sbatch --parsable duoptica.sbatch)
wait_for_job "$second"
check_batch_done "$work" stereo anaglyphs "$doc"
ls duoptica-"$first"_*.out >/dev/null || fail "the first job's logs are gone"
[ "$(ls duoptica-"$second"_*.out | wc -l)" -eq 16 ] || fail "the second job left no log a task"

# To rerun one task, as --array=5 would, is refused with the way to do it.
one=$(sbatch --parsable --array=5 duoptica.sbatch)
wait_for_job "$one"
grep -q -- '--shard 5/N' duoptica-"$one"_5.out || fail "a one-task array was not refused: $(cat duoptica-"$one"_5.out)"
echo "the Slurm recipe took $((SECONDS - started)) s"
