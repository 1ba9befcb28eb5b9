#!/usr/bin/env bash
# The archive's Slurm job script (docs/kivrel-report.slurm) on a real
# one-node cluster the test starts on 127.0.0.1: munged with a throwaway key
# and a socket of its own, slurmctld and slurmd in the foreground with a
# generated slurm.conf whose MaxArraySize (2) makes the script cut the
# archive into several arrays. One command submits everything; the merge job
# waits for every array, and its report must equal one local run's. Every
# daemon is stopped by its pid at the end, and nothing is left behind.
# usage: slurm_test.sh KIVREL DOCS_DIR
set -euo pipefail
kivrel=$1 docs=$2
fail() { echo "FAIL: $*" >&2; exit 1; }
# shellcheck source=archive.sh
. "$(dirname "$0")/archive.sh"
for daemon in /usr/sbin/munged /usr/sbin/slurmctld /usr/sbin/slurmd; do
    [ -x "$daemon" ] || fail "$daemon is missing (Debian's munge, slurmctld and slurmd)"
done

work=$(mktemp -d)
chmod 0700 "$work"
pids=()
cleanup() {
    for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
    for pid in "${pids[@]}"; do wait "$pid" 2>/dev/null || true; done
    rm -rf "$work"
}
trap cleanup EXIT
trap 'exit 1' INT TERM HUP
logs() { for f in "$work"/*.log; do echo "== $f" >&2; tail -n 20 "$f" >&2; done; }

user=$(id -un)

# munge: its key readable by its owner alone, its socket in a folder of ours.
mkdir -m 0700 "$work/munge"
dd if=/dev/urandom of="$work/munge/munge.key" bs=1024 count=1 status=none
chmod 0400 "$work/munge/munge.key"
socket="$work/munge/munge.socket"
/usr/sbin/munged -F --force --socket="$socket" --key-file="$work/munge/munge.key" \
    --pid-file="$work/munge/munged.pid" --log-file="$work/munged.log" --seed-file="$work/munge/seed" \
    >"$work/munged.out" 2>&1 &
pids+=($!)
for _ in $(seq 100); do [ -S "$socket" ] && break; sleep 0.1; done
[ -S "$socket" ] || { logs; fail "munged did not open its socket within 10 s"; }

mkdir -p "$work/state" "$work/spool"
export SLURM_CONF="$work/slurm.conf"
cat >"$SLURM_CONF" <<CONF
ClusterName=kivrel-test
SlurmctldHost=localhost(127.0.0.1)
SlurmctldPort=$(free_port)
SlurmdPort=$(free_port)
SlurmUser=$user
SlurmdUser=$user
AuthType=auth/munge
CredType=cred/munge
AuthInfo=socket=$socket
StateSaveLocation=$work/state
SlurmdSpoolDir=$work/spool
SlurmctldPidFile=$work/slurmctld.pid
SlurmdPidFile=$work/slurmd.pid
SlurmctldLogFile=$work/slurmctld.log
SlurmdLogFile=$work/slurmd.log
ProctrackType=proctrack/linuxproc
TaskPlugin=task/none
SelectType=select/cons_tres
SelectTypeParameters=CR_CPU
SchedulerType=sched/backfill
MpiDefault=none
ReturnToService=2
MaxArraySize=2
JobAcctGatherType=jobacct_gather/none
NodeName=localhost NodeAddr=127.0.0.1 CPUs=$(nproc) State=UNKNOWN
PartitionName=test Nodes=ALL Default=YES MaxTime=INFINITE State=UP
CONF
/usr/sbin/slurmctld -D -i -f "$SLURM_CONF" >"$work/slurmctld.out" 2>&1 &
pids+=($!)
/usr/sbin/slurmd -D -N localhost -f "$SLURM_CONF" >"$work/slurmd.out" 2>&1 &
pids+=($!)
for _ in $(seq 300); do
    sinfo -h -o '%T' 2>/dev/null | grep -qx idle && break
    sleep 0.1
done
sinfo -h -o '%T' 2>/dev/null | grep -qx idle || { logs; fail "the node did not come up idle within 30 s"; }

# The archive: more files than one array may hold, awkward names, one that is no video.
archive="$work/archive"
make_archive "$archive"
cp "$archive/one/a.mxf" "$archive/$(printf 'new\nline.mxf')"
# Saved defaults the nodes must be given.
export KIVREL_REGISTRY="$work/registry.reg"
"$kivrel" defaults --max-ire 120 >/dev/null

KIVREL=$kivrel bash "$docs/kivrel-report.slurm" "$archive" --rule r103 >"$work/submit.out" ||
    { logs; fail "the submission failed"; }
grep -q "^6 files in 3 arrays" "$work/submit.out" || fail "not cut at MaxArraySize: $(cat "$work/submit.out")"
for _ in $(seq 1200); do
    [ -z "$(squeue -h -o %i 2>/dev/null)" ] && break
    sleep 0.1
done
[ -z "$(squeue -h -o %i)" ] || { logs; fail "jobs still queued after 120 s"; }
[ -s "$archive/qc/archive.csv" ] || { cat "$archive"/qc/logs/* >&2 || true; logs; fail "the merge job wrote no report"; }

cd "$archive"
for form in csv json; do
    find . -type f -name '*.mxf' -print0 | LC_ALL=C sort -z |
        xargs -0 -x "$kivrel" report --rule r103 -o "$work/single.$form" 2>/dev/null || true
    cmp qc/archive.$form "$work/single.$form" || fail "the merged $form report differs from one run's"
done
grep -q '"max_ire": 120' qc/archive.json || fail "the nodes did not measure with these settings"
echo "slurm: the job script's merged report equals one run's"
