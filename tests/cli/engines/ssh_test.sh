#!/usr/bin/env bash
# The archive recipe over ssh, as docs/archives.md prints it (its second
# shell block): two OpenSSH servers of the test's own on 127.0.0.1, each on
# a port of its own with a throwaway host key and a throwaway user key, stand
# for two machines beside this one. The archive lies in the home folder;
# qc1's login folder is this machine's, qc2's is another, where the archive
# shows under another path.
# Their shells have neither the test's PATH nor its saved defaults, so the
# merged report equals one local run only when the recipe carries both. Every
# server is stopped by its pid at the end, and nothing is left behind.
# usage: ssh_test.sh KIVREL DOCS_DIR
set -euo pipefail
kivrel=$1 docs=$2
sshd=/usr/sbin/sshd
fail() { echo "FAIL: $*" >&2; exit 1; }
# shellcheck source=archive.sh
. "$(dirname "$0")/archive.sh"
[ -x "$sshd" ] || fail "$sshd is missing (Debian's openssh-server)"

work=$(mktemp -d)
pids=()
made_privsep=0
cleanup() {
    for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
    for pid in "${pids[@]}"; do wait "$pid" 2>/dev/null || true; done
    rm -rf "$work"
    [ $made_privsep -eq 0 ] || rmdir /run/sshd 2>/dev/null || true
}
trap cleanup EXIT
trap 'exit 1' INT TERM HUP

# sshd started as root wants its privilege separation folder, which a
# machine without a running server may lack.
if [ "$(id -u)" -eq 0 ] && [ ! -d /run/sshd ]; then
    mkdir -m 0755 /run/sshd
    made_privsep=1
fi

mkdir "$work/home_qc1" "$work/home_qc2"  # the two login folders
ssh-keygen -q -t ed25519 -N '' -f "$work/host_key"
ssh-keygen -q -t ed25519 -N '' -f "$work/user_key"
cp "$work/user_key.pub" "$work/authorized_keys"

{
    echo "Host *"
    echo "  HostName 127.0.0.1"
    echo "  User $(id -un)"
    echo "  IdentityFile $work/user_key"
    echo "  IdentitiesOnly yes"
    echo "  BatchMode yes"
    echo "  StrictHostKeyChecking no"
    echo "  UserKnownHostsFile /dev/null"
    echo "  LogLevel ERROR"
} >"$work/ssh_config.common"
: >"$work/ssh_config"
for name in qc1 qc2; do
    port=$(free_port)
    cat >"$work/sshd_$name.conf" <<CONF
Port $port
ListenAddress 127.0.0.1
HostKey $work/host_key
PidFile $work/sshd_$name.pid
AuthorizedKeysFile $work/authorized_keys
StrictModes no
UsePAM no
PasswordAuthentication no
KbdInteractiveAuthentication no
PermitRootLogin prohibit-password
ForceCommand printf '%s\\n' "\$SSH_ORIGINAL_COMMAND" >>$work/commands_$name.log; cd $work/home_$name && exec "\$SHELL" -c "\$SSH_ORIGINAL_COMMAND"
CONF
    "$sshd" -D -f "$work/sshd_$name.conf" -E "$work/sshd_$name.log" &
    pids+=($!)
    printf 'Host %s\n  Port %s\n' "$name" "$port" >>"$work/ssh_config"
done
cat "$work/ssh_config.common" >>"$work/ssh_config"
export PARALLEL_SSH="ssh -F $work/ssh_config"
for name in qc1 qc2; do
    for _ in $(seq 100); do
        $PARALLEL_SSH "$name" true 2>/dev/null && continue 2
        sleep 0.1
    done
    cat "$work"/sshd_*.log >&2 || true
    fail "the ssh server for $name did not answer within 10 s"
done

# The archive: awkward names, two of one name in two folders, a file that is
# no video. Here and on qc1 it is ~/archive in the same home folder; qc2's
# home folder is another, its ~/archive the same files under another path.
export HOME="$work/home_qc1"
archive="$HOME/archive"
make_archive "$archive"
ln -s "$archive" "$work/home_qc2/archive"

# This machine's saved defaults, which the other side does not have.
export KIVREL_REGISTRY="$work/registry.reg"
"$kivrel" defaults --max-ire 120 --system pal >/dev/null

recipe=$(awk '/^```sh$/ { n++; inside = (n == 2); next } /^```$/ { inside = 0 } inside && !/^cd / { print }' \
    "$docs/archives.md")
case "$recipe" in *--sshlogin*) ;; *) fail "no ssh recipe in $docs/archives.md" ;; esac
merge=$(awk '/^```sh$/ { n++; inside = (n == 1); next } /^```$/ { inside = 0 } inside && /^find|^    kivrel report --merge/ { print }' \
    "$docs/archives.md" | tail -n 2)
case "$merge" in *--merge*) ;; *) fail "no merge in $docs/archives.md" ;; esac

cd "$archive"
status=0
PATH="$(dirname "$kivrel"):$PATH" bash -c "$recipe" 2>"$work/recipe.err" || status=$?
[ $status -ne 0 ] || fail "the per-file step succeeded though bad.mxf is no video"
PATH="$(dirname "$kivrel"):$PATH" bash -c "$merge" 2>"$work/merge.err" || status=$?
[ -s archive.csv ] || { cat "$work/recipe.err" "$work/merge.err" >&2; fail "no archive.csv"; }
# Each machine ran some of the jobs: each server notes the commands it
# runs, which GNU parallel sends as hexadecimal for a Perl worker to unpack.
# qc2 was sent the archive's place in the home folder, never this machine's path to it.
for name in qc1 qc2; do
    awk '/GNU_Parallel_worker/ { for (i = 5; i <= NF; i++) print $i }' "$work/commands_$name.log" |
        perl -ne 'chomp; print pack("H*", $_), "\n"' >"$work/jobs_$name"
    grep -q "kivrel report" "$work/jobs_$name" ||
        { cat "$work/sshd_$name.log" "$work/recipe.err" >&2; fail "$name ran no report"; }
done
! grep -q "$archive" "$work/jobs_qc2" || fail "qc2 was sent this machine's path to the archive"

find . -type f -name '*.mxf' -print0 | LC_ALL=C sort -z |
    xargs -0 -x "$kivrel" report --rule r103 -o "$work/single.csv" 2>/dev/null || true
cmp archive.csv "$work/single.csv" || fail "the merged report differs from one run's"
grep -q '"max_ire": 120' qc/./one/a.mxf.json || fail "the remote reports were not made with these settings"
echo "ssh: the recipe's merged report equals one run's"
