# Sourced by a test: a one-node Slurm cluster of its own on localhost, its configuration,
# state and logs under $1, its daemons started here and stopped by stop_slurm_cluster.
# Sets SLURM_CONF for the clients. Returns 1, with the reason in $slurm_failure, when it
# cannot start.

slurm_pids=()

stop_slurm_cluster() {
    local pid tries
    # Tasks left by a failed test end before the daemons that watch them.
    if [ ${#slurm_pids[@]} -gt 0 ] && scancel -u "$(id -un)" 2>/dev/null; then
        for tries in $(seq 1 50); do
            [ -z "$(squeue -h 2>/dev/null)" ] && break
            sleep 0.2
        done
    fi
    for pid in "${slurm_pids[@]}"; do
        kill "$pid" 2>/dev/null || true
    done
    for pid in "${slurm_pids[@]}"; do
        wait "$pid" 2>/dev/null || true
    done
    slurm_pids=()
}

# A TCP port that nothing listens on, so that parallel runs of the suite do not meet.
free_port() {
    python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])'
}

start_slurm_cluster() {
    local root=$1 cpus
    cpus=$(nproc)
    slurm_failure=
    for program in munged mungekey slurmctld slurmd sbatch squeue scancel; do
        if ! command -v "$program" >/dev/null; then
            slurm_failure="$program is not installed (Debian packages slurm-wlm and munge)"
            return 1
        fi
    done
    if [ "$(id -u)" -ne 0 ]; then
        slurm_failure="slurmd must run as root to start tasks as their user"
        return 1
    fi
    mkdir -p "$root/munge" "$root/state" "$root/spool" "$root/log"
    chmod 700 "$root/munge"
    mungekey --create --keyfile="$root/munge/munge.key" 2>"$root/log/mungekey.log" || {
        slurm_failure="mungekey failed: $(cat "$root/log/mungekey.log")"
        return 1
    }
    munged --foreground --force --key-file="$root/munge/munge.key" \
        --socket="$root/munge/munge.socket" --pid-file="$root/munge/munged.pid" \
        --seed-file="$root/munge/munge.seed" --log-file="$root/log/munged.log" \
        >"$root/log/munged.out" 2>&1 &
    slurm_pids+=($!)

    cat >"$root/slurm.conf" <<CONF
ClusterName=duoptica-test
SlurmctldHost=localhost(127.0.0.1)
SlurmctldPort=$(free_port)
SlurmdPort=$(free_port)
SlurmUser=root
SlurmdUser=root
AuthType=auth/munge
AuthInfo=socket=$root/munge/munge.socket
CredType=cred/munge
StateSaveLocation=$root/state
SlurmdSpoolDir=$root/spool
SlurmctldPidFile=$root/slurmctld.pid
SlurmdPidFile=$root/slurmd.pid
SlurmctldLogFile=$root/log/slurmctld.log
SlurmdLogFile=$root/log/slurmd.log
ProctrackType=proctrack/linuxproc
TaskPlugin=task/none
SelectType=select/cons_tres
SelectTypeParameters=CR_CPU
SchedulerType=sched/builtin
MpiDefault=none
ReturnToService=2
KillWait=5
MinJobAge=300
NodeName=duonode NodeHostname=localhost NodeAddr=127.0.0.1 CPUs=$cpus State=UNKNOWN
PartitionName=batch Nodes=duonode Default=YES MaxTime=INFINITE State=UP
CONF
    export SLURM_CONF=$root/slurm.conf
    slurmctld -D -i -f "$SLURM_CONF" >"$root/log/slurmctld.out" 2>&1 &
    slurm_pids+=($!)
    slurmd -D -N duonode -f "$SLURM_CONF" >"$root/log/slurmd.out" 2>&1 &
    slurm_pids+=($!)

    # Up once the node takes work.
    local tries
    for tries in $(seq 1 100); do
        if sinfo -h -N -o '%T' 2>/dev/null | grep -qE '^(idle|mixed|allocated)'; then
            return 0
        fi
        sleep 0.2
    done
    slurm_failure="the node did not come up in 20 s: $(tail -n 3 "$root/log/slurmctld.log" "$root/log/slurmd.log" "$root/log/slurmd.out" 2>&1 | tr '\n' ' ')"
    return 1
}
