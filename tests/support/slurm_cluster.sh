# A Slurm cluster of two simulated nodes on this machine, for the farm's test and benchmark (sourced by
# bash). slurmctld and two slurmd (nodes n1 and n2, one processor each, so that two tasks land on two
# nodes) run in the foreground as children of the caller, with auth/none, on ports that are free now,
# and with their configuration, state and logs in a folder of the caller's.
#
#   startCluster FOLDER     exports SLURM_CONF; returns once both nodes are idle (1 when they are not
#                           within 20 s, with the daemons' logs on standard error)
#   stopCluster             cancels every job, then stops each daemon by its PID (SIGTERM, then
#                           SIGKILL after 5 s); safe to call twice, or before startCluster
#
# Slurm's daemons want to run as root here (SlurmUser=root); the caller checks that it is.

cluster_pids=()
cluster_folder=""

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

startCluster() {
  cluster_folder=$1
  mkdir -p "$cluster_folder/state" "$cluster_folder/spool"
  local controller node1 node2
  controller=$(freePort)
  node1=$(freePort)
  node2=$(freePort)
  while [ "$node1" = "$controller" ]; do node1=$(freePort); done
  while [ "$node2" = "$controller" ] || [ "$node2" = "$node1" ]; do node2=$(freePort); done
  cat >"$cluster_folder/slurm.conf" <<EOF
ClusterName=narvu
SlurmctldHost=localhost
SlurmctldPort=$controller
AuthType=auth/none
CredType=cred/none
SlurmUser=root
SlurmdUser=root
StateSaveLocation=$cluster_folder/state
SlurmdSpoolDir=$cluster_folder/spool/%n
SlurmctldPidFile=$cluster_folder/slurmctld.pid
SlurmdPidFile=$cluster_folder/slurmd-%n.pid
SlurmctldLogFile=$cluster_folder/slurmctld.log
SlurmdLogFile=$cluster_folder/slurmd-%n.log
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
  export SLURM_CONF=$cluster_folder/slurm.conf
  slurmctld -D -f "$SLURM_CONF" >"$cluster_folder/slurmctld.out" 2>&1 &
  cluster_pids+=($!)
  for node in n1 n2; do
    slurmd -D -N "$node" -f "$SLURM_CONF" >"$cluster_folder/slurmd-$node.out" 2>&1 &
    cluster_pids+=($!)
  done
  local tries
  for tries in $(seq 200); do
    [ "$(sinfo -h -N -o %t 2>/dev/null | grep -c '^idle')" = 2 ] && return 0
    sleep 0.1
  done
  echo "the Slurm cluster in $cluster_folder did not come up within 20 s:" >&2
  tail -n 5 "$cluster_folder"/*.out "$cluster_folder"/*.log >&2 2>/dev/null || true
  return 1
}

stopCluster() {
  [ ${#cluster_pids[@]} -eq 0 ] && return 0
  scancel --full --quiet --user="$(id -un)" 2>/dev/null || true
  local pid tries
  for pid in "${cluster_pids[@]}"; do kill -TERM "$pid" 2>/dev/null || true; done
  for tries in $(seq 50); do
    local alive=0
    for pid in "${cluster_pids[@]}"; do kill -0 "$pid" 2>/dev/null && alive=1; done
    [ $alive = 0 ] && break
    sleep 0.1
  done
  for pid in "${cluster_pids[@]}"; do
    kill -KILL "$pid" 2>/dev/null || true
    wait "$pid" 2>/dev/null || true
  done
  cluster_pids=()
}
