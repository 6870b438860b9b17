# A Slurm cluster of two simulated nodes on this machine, for the farm's test and benchmark (sourced by
# bash): the cluster of scripts/local-slurm.sh, its slurmctld and two slurmd (nodes n1 and n2) run in
# the foreground as children of the caller, with their configuration, state and logs in a folder of
# the caller's.
#
#   startCluster FOLDER     exports SLURM_CONF; returns once both nodes are idle (1 when they are not
#                           within 20 s, with the daemons' logs on standard error)
#   stopCluster             cancels every job, then stops each daemon by its PID (SIGTERM, then
#                           SIGKILL after 5 s); safe to call twice, or before startCluster
#
# Slurm's daemons want to run as root here (SlurmUser=root); the caller checks that it is.

cluster_pids=()
cluster_folder=""
# slurmConfiguration and nodesIdle: the same cluster that scripts/local-slurm.sh starts for a user.
source "$(dirname "${BASH_SOURCE[0]}")/../../scripts/local-slurm.sh"

startCluster() {
  cluster_folder=$1
  slurmConfiguration "$cluster_folder"
  export SLURM_CONF=$cluster_folder/slurm.conf
  slurmctld -D -f "$SLURM_CONF" >"$cluster_folder/slurmctld.out" 2>&1 &
  cluster_pids+=($!)
  for node in n1 n2; do
    slurmd -D -N "$node" -f "$SLURM_CONF" >"$cluster_folder/slurmd-$node.out" 2>&1 &
    cluster_pids+=($!)
  done
  nodesIdle "$cluster_folder" && return 0
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
