# Sourced: a private single-node Slurm cluster in a folder of its own, on loopback and free ports.
#   cluster_up DIR [LINE...]  starts munged, slurmctld and slurmd under DIR and waits for an idle
#                    node; LINEs are added to slurm.conf; exports SLURM_CONF so that sbatch, squeue
#                    and scontrol talk to this cluster only
#   cluster_down     cancels what is still queued, then stops the daemons it started, by PID
# Root is needed (SlurmUser=root, munged --force). Nothing outside DIR is written.

_cluster_pids=()   # in start order; stopped in reverse
_cluster_dir=

# Ports nobody listens on now: the kernel hands out a free one for a bound socket, which we close.
_cluster_free_ports() {
  /usr/bin/python3 -c '
import socket, sys
held = []
for _ in range(int(sys.argv[1])):
    s = socket.socket(); s.bind(("127.0.0.1", 0)); held.append(s)
print(" ".join(str(s.getsockname()[1]) for s in held))' "$1"
}

# _cluster_wait SECONDS WHAT COMMAND...: retries COMMAND every 0.2 s until it succeeds.
_cluster_wait() {
  local deadline=$((SECONDS + $1)) what=$2
  shift 2
  until "$@" >/dev/null 2>&1; do
    if [ "$SECONDS" -ge "$deadline" ]; then
      echo "slurm-cluster: $what did not come up; logs in $_cluster_dir/log:" >&2
      tail -n 20 "$_cluster_dir"/log/* >&2 2>/dev/null
      return 1
    fi
    sleep 0.2
  done
}

_cluster_queue_empty() { [ -z "$(timeout 5 squeue -h -o %i 2>/dev/null)" ]; }
_cluster_node_idle() { [ "$(sinfo -h -N -o %T 2>/dev/null)" = idle ]; }

cluster_up() {
  local dir=$1 host ports ctld_port slurmd_port hw mem cpus
  shift
  _cluster_dir=$dir
  host=$(hostname -s)
  mkdir -p "$dir"/{munge,state,spool,run,log}
  # munged refuses a socket folder others may write to, and wants to reach it through 0711.
  chmod 0711 "$dir" "$dir/munge"
  head -c 1024 /dev/urandom >"$dir/munge/munge.key"
  chmod 0400 "$dir/munge/munge.key"
  munged --foreground --force --key-file="$dir/munge/munge.key" --socket="$dir/munge/munge.socket" \
    --pid-file="$dir/munge/munged.pid" --log-file="$dir/log/munged.log" --seed-file="$dir/munge/munged.seed" \
    >>"$dir/log/munged.out" 2>&1 &
  _cluster_pids+=($!)
  _cluster_wait 20 munged test -S "$dir/munge/munge.socket" || return 1

  read -r ctld_port slurmd_port < <(_cluster_free_ports 2)
  # This machine as slurmd sees it, less a margin so that the node registers whatever the kernel keeps.
  hw=$(slurmd -C | head -n 1)
  cpus=$(sed -n 's/.* CPUs=\([0-9]*\).*/\1/p' <<<"$hw")
  mem=$(sed -n 's/.* RealMemory=\([0-9]*\).*/\1/p' <<<"$hw")
  : >"$dir/plugstack.conf"
  cat >"$dir/slurm.conf" <<EOF
ClusterName=bw$$
SlurmctldHost=$host(127.0.0.1)
SlurmctldPort=$ctld_port
SlurmdPort=$slurmd_port
SlurmUser=root
SlurmdUser=root
AuthType=auth/munge
AuthInfo=socket=$dir/munge/munge.socket
CredType=cred/munge
StateSaveLocation=$dir/state
SlurmdSpoolDir=$dir/spool
SlurmctldPidFile=$dir/run/slurmctld.pid
SlurmdPidFile=$dir/run/slurmd.pid
SlurmctldLogFile=$dir/log/slurmctld.log
SlurmdLogFile=$dir/log/slurmd.log
PlugStackConfig=$dir/plugstack.conf
ProctrackType=proctrack/linuxproc
TaskPlugin=task/none
JobAcctGatherType=jobacct_gather/none
AccountingStorageType=accounting_storage/none
JobCompType=jobcomp/filetxt
JobCompLoc=$dir/log/jobcomp.txt
SelectType=select/cons_tres
SelectTypeParameters=CR_Core
SchedulerParameters=batch_sched_delay=0
MpiDefault=none
ReturnToService=2
KillWait=5
NodeName=$host NodeAddr=127.0.0.1 CPUs=$cpus RealMemory=$((mem * 9 / 10)) State=UNKNOWN
PartitionName=debug Nodes=$host Default=YES MaxTime=INFINITE State=UP
EOF
  [ $# -eq 0 ] || printf '%s\n' "$@" >>"$dir/slurm.conf"
  export SLURM_CONF=$dir/slurm.conf
  slurmctld -D -f "$SLURM_CONF" >>"$dir/log/slurmctld.out" 2>&1 &
  _cluster_pids+=($!)
  _cluster_wait 30 slurmctld scontrol ping || return 1
  slurmd -D -f "$SLURM_CONF" -N "$host" >>"$dir/log/slurmd.out" 2>&1 &
  _cluster_pids+=($!)
  _cluster_wait 60 "the node" _cluster_node_idle || return 1
}

cluster_down() {
  local i pid
  [ "${#_cluster_pids[@]}" -gt 0 ] || return 0
  # Jobs first, while slurmd is there to end their steps; then the daemons, newest first.
  # A controller that is gone would keep the client commands retrying: each gets a few seconds.
  if [ -n "${SLURM_CONF:-}" ] && timeout 10 scancel --quiet --full -u root 2>/dev/null; then
    _cluster_wait 15 "cancelling" _cluster_queue_empty 2>/dev/null || true
  fi
  for ((i = ${#_cluster_pids[@]} - 1; i >= 0; i--)); do
    pid=${_cluster_pids[i]}
    kill -TERM "$pid" 2>/dev/null || continue
    for _ in $(seq 50); do kill -0 "$pid" 2>/dev/null || break; sleep 0.1; done
    kill -KILL "$pid" 2>/dev/null && echo "slurm-cluster: killed $pid, which ignored SIGTERM" >&2
    wait "$pid" 2>/dev/null
  done
  _cluster_pids=()
}
