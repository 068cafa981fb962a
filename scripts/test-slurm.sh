#!/usr/bin/env bash
# Runs the Slurm job array of docs/batch.md on a one-node Slurm started here: munged,
# slurmctld and slurmd (Debian's munge and slurm-wlm) with a key, a minimal
# slurm.conf and every state, log and socket in a scratch folder, as root.
# The array's script is taken from docs/batch.md as it stands, with /shared
# moved into the scratch folder, and submitted with four shards over a
# generated folder of pictures (one damaged). Checks: every task completed,
# every good input written exactly once (one output, one "written" line in
# the reports), the damaged one failed, one report line per input. The
# daemons are stopped on any exit.
#   bash scripts/test-slurm.sh [BUILD_DIR]     (default build; needs its kestrune-cli)
# Exit status 0 also when the daemons cannot run here (not root, no munge or
# slurm): it then prints why and does nothing.
set -euo pipefail
cd "$(dirname "$0")/.."
build=$(realpath "${1:-build}")

skip() { echo "test-slurm: skipped: $*"; exit 0; }
[ "$(id -u)" -eq 0 ] || skip "the daemons are started as root here, and this is not root"
for tool in munged mungekey slurmctld slurmd sbatch squeue scontrol; do
  command -v "$tool" > /dev/null || skip "$tool is missing (Debian's munge and slurm-wlm)"
done
[ -x "$build/kestrune-cli" ] || { echo "test-slurm: no $build/kestrune-cli" >&2; exit 1; }

scratch=$(mktemp -d /tmp/kestrune-slurm.XXXXXX)
chmod 755 "$scratch"
pids=()
stop() {
  local status=$?
  for pid in "${pids[@]}"; do kill "$pid" 2> /dev/null || true; done
  for pid in "${pids[@]}"; do wait "$pid" 2> /dev/null || true; done
  if [ "$status" -ne 0 ]; then
    for log in "$scratch"/*.log "$scratch"/*.out "$scratch"/out/*; do [ -f "$log" ] && { echo "== $log"; tail -20 "$log"; }; done
  fi
  rm -rf "$scratch"
}
trap stop EXIT
fail() { echo "test-slurm: $*" >&2; exit 1; }

# munge: a fresh key and a socket of our own.
mkdir -m 755 "$scratch/munge"
mungekey --create --keyfile="$scratch/munge/munge.key"
socket="$scratch/munge/munge.socket"
munged --foreground --force --key-file="$scratch/munge/munge.key" --socket="$socket" \
  --pid-file="$scratch/munge/munged.pid" --seed-file="$scratch/munge/seed" --log-file="$scratch/munged.log" > "$scratch/munged.out" 2>&1 &
pids+=($!)
for _ in $(seq 50); do [ -S "$socket" ] && break; sleep 0.1; done
[ -S "$socket" ] || fail "munged did not start"

# One node with as many CPUs as the job script's tasks ask for (config_overrides
# keeps it in service although the machine has fewer), ports of our own.
host=$(hostname -s)
port=$((20000 + $$ % 20000))
cpus=16
mkdir -p "$scratch/state" "$scratch/spool" "$scratch/out"
export SLURM_CONF="$scratch/slurm.conf"
cat > "$SLURM_CONF" << EOF
ClusterName=kestrune-test
SlurmctldHost=$host(127.0.0.1)
SlurmctldPort=$port
SlurmdPort=$((port + 1))
SlurmUser=root
SlurmdUser=root
AuthType=auth/munge
AuthInfo=socket=$socket
CredType=cred/munge
StateSaveLocation=$scratch/state
SlurmdSpoolDir=$scratch/spool
SlurmctldPidFile=$scratch/slurmctld.pid
SlurmdPidFile=$scratch/slurmd.pid
SlurmctldLogFile=$scratch/slurmctld.log
SlurmdLogFile=$scratch/slurmd.log
SlurmdParameters=config_overrides
ProctrackType=proctrack/linuxproc
TaskPlugin=task/none
JobAcctGatherType=jobacct_gather/none
AccountingStorageType=accounting_storage/none
SchedulerType=sched/builtin
SelectType=select/cons_tres
SelectTypeParameters=CR_Core
MpiDefault=none
MailProg=/bin/true
ReturnToService=2
MinJobAge=600
NodeName=$host NodeAddr=127.0.0.1 CPUs=$cpus State=UNKNOWN
PartitionName=test Nodes=$host Default=YES MaxTime=INFINITE State=UP
EOF
slurmctld -D -i -f "$SLURM_CONF" > "$scratch/slurmctld.out" 2>&1 &
pids+=($!)
slurmd -D -f "$SLURM_CONF" > "$scratch/slurmd.out" 2>&1 &
pids+=($!)
for _ in $(seq 100); do
  sinfo -h -o %t 2> /dev/null | grep -qx idle && break
  sleep 0.2
done
sinfo -h -o %t | grep -qx idle || fail "the node did not come up: $(sinfo -h -o '%t %E' 2>&1)"

# The pictures: charts in two folders, one damaged file.
photos="$scratch/shared/photos"
mkdir -p "$photos/2024" "$photos/2025"
for i in $(seq 1 11); do
  "$build/kestrune-cli" chart "$photos/$((2024 + i % 2))/chart-$i.png" --width $((24 + i)) --height 20 --seed "$i"
done
head -c 200 "$photos/2024/chart-2.png" > "$photos/2025/damaged.png"
inputs=12

# The job script of docs/batch.md, with the shared folder in the scratch folder.
awk '/^With Slurm/ {on = 1} on && /^```sh$/ {grab = 1; next} grab && /^```$/ {exit} grab' docs/batch.md |
  sed "s|/shared/|$scratch/shared/|g" > "$scratch/batch.sh"
grep -q -- '--shard' "$scratch/batch.sh" || fail "no job script found in docs/batch.md"
job=$(PATH="$build:$PATH" sbatch --parsable --array=0-3 --output="$scratch/out/%A_%a.out" "$scratch/batch.sh")
echo "test-slurm: submitted job array $job"
for _ in $(seq 600); do
  [ -z "$(squeue -h -j "$job" 2> /dev/null)" ] && break
  sleep 0.2
done
[ -z "$(squeue -h -j "$job")" ] || fail "the array did not finish in 2 minutes"

# The damaged file's task ends with a batch's status for failed inputs (6),
# the others with 0.
states=$(scontrol -o show job "$job" | sed -E 's/.* JobState=([A-Z]+) .* ExitCode=([0-9:]+) .*/\1 \2/' | sort)
echo "$states" | sed 's/^/test-slurm: task /'
[ "$(echo "$states" | wc -l)" -eq 4 ] || fail "expected 4 tasks"
[ "$(echo "$states" | grep -c '^COMPLETED 0:0$')" -eq 3 ] && [ "$(echo "$states" | grep -c '^FAILED 6:0$')" -eq 1 ] ||
  fail "expected three tasks with status 0 and one with 6"

reports=("$scratch"/shared/big-report-*.jsonl)
[ "${#reports[@]}" -eq 4 ] || fail "expected 4 reports, found ${#reports[@]}"
cat "${reports[@]}" > "$scratch/all.jsonl"
[ "$(wc -l < "$scratch/all.jsonl")" -eq "$inputs" ] || fail "the reports hold $(wc -l < "$scratch/all.jsonl") lines for $inputs inputs"
for input in $(cd "$photos" && find . -type f | sed 's|^\./||' | sort); do
  [ "$(grep -c "\"input\":\"$photos/$input\"" "$scratch/all.jsonl")" -eq 1 ] || fail "$input not reported exactly once"
  if [ "$input" = 2025/damaged.png ]; then
    grep "\"input\":\"$photos/$input\"" "$scratch/all.jsonl" | grep -q '"status":"failed"' || fail "$input not failed"
    [ ! -e "$scratch/shared/big/$input" ] || fail "$input written"
  else
    grep "\"input\":\"$photos/$input\"" "$scratch/all.jsonl" | grep -q '"status":"written"' || fail "$input not written"
    "$build/kestrune-cli" info "$scratch/shared/big/$input" | grep -q . || fail "$input: no output"
  fi
done
[ "$(find "$scratch/shared/big" -type f | wc -l)" -eq $((inputs - 1)) ] || fail "unexpected files in the output folder"
echo "test-slurm: $inputs inputs over 4 shards: each reported once, $((inputs - 1)) written, the damaged one failed"
