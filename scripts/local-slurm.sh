#!/usr/bin/env bash
# A Slurm cluster on this one machine, to try narvu-farm without a cluster: a controller and two
# simulated nodes (n1 and n2, one processor each, so that two tasks land on two nodes), on 127.0.0.1,
# with auth/none, on ports that are free now, and everything they keep in one folder.
#
#   sudo scripts/local-slurm.sh start [FOLDER]    starts the daemons and prints the SLURM_CONF to export
#   sudo scripts/local-slurm.sh stop [FOLDER]     cancels every job and stops the daemons by their PIDs
#
# FOLDER defaults to /tmp/narvu-local-slurm. Slurm's daemons run as root here (SlurmUser=root); the
# programs come with Debian's slurmctld, slurmd and slurm-client. The farm's test sources this file
# for slurmConfiguration and runs the daemons as children of its own instead.
set -euo pipefail

# A TCP port that nothing on this machine uses now, below the ephemeral range.
freePort() {
  local used="" slot address rest port
  while read -r slot address rest; do
    [[ "$address" == *:* ]] && used+=" $((16#${address##*:})) "
  done < <(cat /proc/net/tcp /proc/net/tcp6 2>/dev/null)
  while true; do
    port=$((20000 + RANDOM % 12000))
    [[ "$used" == *" $port "* ]] || { echo "$port"; return; }
  done
}

# Writes FOLDER/slurm.conf (and the folders it names) for a controller and the nodes n1 and n2.
slurmConfiguration() {
  local folder=$1 controller node1 node2
  mkdir -p "$folder/state" "$folder/spool"
  controller=$(freePort)
  node1=$(freePort)
  node2=$(freePort)
  while [ "$node1" = "$controller" ]; do node1=$(freePort); done
  while [ "$node2" = "$controller" ] || [ "$node2" = "$node1" ]; do node2=$(freePort); done
  cat >"$folder/slurm.conf" <<EOF
ClusterName=narvu
SlurmctldHost=localhost
SlurmctldPort=$controller
AuthType=auth/none
CredType=cred/none
SlurmUser=root
SlurmdUser=root
StateSaveLocation=$folder/state
SlurmdSpoolDir=$folder/spool/%n
SlurmctldPidFile=$folder/slurmctld.pid
SlurmdPidFile=$folder/slurmd-%n.pid
SlurmctldLogFile=$folder/slurmctld.log
SlurmdLogFile=$folder/slurmd-%n.log
ProctrackType=proctrack/linuxproc
TaskPlugin=task/none
JobAcctGatherType=jobacct_gather/none
AccountingStorageType=accounting_storage/none
JobCompType=jobcomp/none
SelectType=select/cons_tres
SelectTypeParameters=CR_CPU
MpiDefault=none
SwitchType=switch/none
ReturnToService=2
MinJobAge=600
NodeName=n1 NodeHostname=localhost NodeAddr=127.0.0.1 Port=$node1 CPUs=1 State=UNKNOWN
NodeName=n2 NodeHostname=localhost NodeAddr=127.0.0.1 Port=$node2 CPUs=1 State=UNKNOWN
PartitionName=farm Nodes=n1,n2 Default=YES MaxTime=INFINITE State=UP
EOF
}

# Whether both nodes are idle within 20 s.
nodesIdle() {
  local tries
  for tries in $(seq 200); do
    [ "$(SLURM_CONF=$1/slurm.conf sinfo -h -N -o %t 2>/dev/null | grep -c '^idle')" = 2 ] && return 0
    sleep 0.1
  done
  return 1
}

startLocalCluster() {
  local folder=$1
  if [ -s "$folder/daemons.pid" ]; then
    echo "local-slurm.sh: a cluster runs from $folder already (stop it first)" >&2
    return 1
  fi
  slurmConfiguration "$folder"
  : >"$folder/daemons.pid"
  setsid slurmctld -D -f "$folder/slurm.conf" >"$folder/slurmctld.out" 2>&1 </dev/null &
  echo $! >>"$folder/daemons.pid"
  local node
  for node in n1 n2; do
    setsid slurmd -D -N "$node" -f "$folder/slurm.conf" >"$folder/slurmd-$node.out" 2>&1 </dev/null &
    echo $! >>"$folder/daemons.pid"
  done
  if ! nodesIdle "$folder"; then
    echo "local-slurm.sh: the cluster in $folder did not come up within 20 s:" >&2
    tail -n 5 "$folder"/*.out "$folder"/*.log >&2 2>/dev/null || true
    stopLocalCluster "$folder"
    return 1
  fi
  echo "local-slurm.sh: a controller and the nodes n1 and n2 run from $folder; for Slurm's programs:"
  echo "export SLURM_CONF=$folder/slurm.conf"
}

stopLocalCluster() {
  local folder=$1 pid tries alive
  [ -s "$folder/daemons.pid" ] || { echo "local-slurm.sh: no cluster runs from $folder"; return 0; }
  SLURM_CONF=$folder/slurm.conf scancel --full --quiet --user="$(id -un)" 2>/dev/null || true
  mapfile -t pids <"$folder/daemons.pid"
  for pid in "${pids[@]}"; do kill -TERM "$pid" 2>/dev/null || true; done
  for tries in $(seq 50); do
    alive=0
    for pid in "${pids[@]}"; do kill -0 "$pid" 2>/dev/null && alive=1; done
    [ $alive = 0 ] && break
    sleep 0.1
  done
  for pid in "${pids[@]}"; do kill -KILL "$pid" 2>/dev/null || true; done
  rm -f "$folder/daemons.pid"
  echo "local-slurm.sh: the cluster in $folder is stopped"
}

if [ "${BASH_SOURCE[0]}" = "$0" ]; then
  folder=${2:-/tmp/narvu-local-slurm}
  case "${1:-}" in
    start | stop)
      for program in slurmctld slurmd sinfo scancel; do
        command -v "$program" >/dev/null || { echo "local-slurm.sh: $program is not installed (apt install slurmctld slurmd slurm-client)" >&2; exit 1; }
      done
      [ "$(id -u)" = 0 ] || { echo "local-slurm.sh: Slurm's daemons run as root here: run it with sudo" >&2; exit 1; }
      mkdir -p "$folder"
      if [ "$1" = start ]; then startLocalCluster "$(cd "$folder" && pwd)"; else stopLocalCluster "$(cd "$folder" && pwd)"; fi
      ;;
    *)
      echo "usage: scripts/local-slurm.sh start|stop [FOLDER]" >&2
      exit 2
      ;;
  esac
fi
