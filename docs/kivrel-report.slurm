#!/bin/bash
# kivrel report over a whole archive on a Slurm cluster, in one command on
# the login node:
#   bash kivrel-report.slurm /path/to/archive [REPORT OPTIONS...]   (e.g. --rule r103)
# It lists the archive's files (any name: the list is NUL-separated), sends
# the per-file reports out as job arrays, a task a file, and the merge as a
# job that waits for every array, so the verdict is ARCHIVE/qc/archive.csv
# and ARCHIVE/qc/archive.json. Each file's report is ARCHIVE/qc/NAME.json,
# the task logs are in ARCHIVE/qc/logs/.
#
# The archive must be at the same path on every node, and kivrel too:
#   KIVREL            kivrel's absolute path (default: the one on the PATH here)
#   KIVREL_PATTERN    the files to check (default: *.mxf)
#   KIVREL_CPUS       CPUs each task asks for and decodes with (default: 2)
# This machine's saved defaults go with the jobs (qc/settings.reg, named by
# KIVREL_REGISTRY), so that every node measures with the same settings.
# Run again, it does only the files whose reports are not whole (--resume).
# A task exits 1 for a file it cannot read and 3 for a broken --fail-on
# rule, as kivrel report does; the merge runs whatever the tasks' statuses
# (afterany) and judges them. Arrays are cut at the cluster's MaxArraySize.
set -euo pipefail

reports_of() { sed -z 's|^|qc/|; s|$|.json|' qc/files.list; }

case "${KIVREL_STEP:-submit}" in
submit)
    [ $# -ge 1 ] || { echo "usage: bash $0 ARCHIVE [REPORT OPTIONS...]" >&2; exit 2; }
    archive=$(cd "$1" && pwd)
    shift
    script=$(realpath -- "$0")  # sbatch reads it after the cd below
    export KIVREL=${KIVREL:-$(command -v kivrel)}
    cpus=${KIVREL_CPUS:-2}
    cd "$archive"
    mkdir -p qc/logs
    find . -type f -name "${KIVREL_PATTERN:-*.mxf}" -not -path './qc/*' -print0 | LC_ALL=C sort -z >qc/files.list
    saved=${KIVREL_REGISTRY:-${XDG_CONFIG_HOME:-$HOME/.config}/kivrel/registry.reg}
    if [ -f "$saved" ]; then cp "$saved" qc/settings.reg; else : >qc/settings.reg; fi
    count=$(tr -cd '\0' <qc/files.list | wc -c)
    [ "$count" -gt 0 ] || { echo "$0: no ${KIVREL_PATTERN:-*.mxf} under $archive" >&2; exit 1; }
    # Task indices run from 0 to MaxArraySize - 1: one array for each such stretch of the list.
    most=$(scontrol show config | awk '$1 == "MaxArraySize" { print $3 }')
    arrays=""
    for ((first = 0; first < count; first += most)); do
        size=$((count - first < most ? count - first : most))
        id=$(sbatch --parsable --job-name=kivrel-qc --chdir="$archive" --cpus-per-task="$cpus" \
            --array=0-$((size - 1)) --output='qc/logs/%A_%a.out' \
            --export=ALL,KIVREL_STEP=file,KIVREL_FIRST=$first "$script" "$archive" "$@")
        arrays+=":${id%%;*}"
    done
    id=$(sbatch --parsable --job-name=kivrel-qc-merge --chdir="$archive" --dependency="afterany$arrays" \
        --output='qc/logs/merge-%j.out' --export=ALL,KIVREL_STEP=merge "$script" "$archive")
    echo "$count files in $(((count + most - 1) / most)) arrays; the merge is job ${id%%;*}," \
        "writing $archive/qc/archive.csv and .json"
    ;;
file)
    shift
    # Name number FIRST + task index of the list, read whole: a name may hold any byte but NUL.
    IFS= read -r -d '' name < <(sed -z -n "$((KIVREL_FIRST + SLURM_ARRAY_TASK_ID + 1))p" qc/files.list)
    mkdir -p "qc/$(dirname -- "$name")"
    KIVREL_REGISTRY=qc/settings.reg exec "$KIVREL" report "$name" "$@" -threads "${SLURM_CPUS_PER_TASK:-1}" \
        --resume -o "qc/$name.json"
    ;;
merge)
    status=0
    reports_of | "$KIVREL" report --merge --files0-from - -y -o qc/archive.json || status=$?
    reports_of | "$KIVREL" report --merge --files0-from - -y -o qc/archive.csv || status=$?
    exit $status
    ;;
esac
