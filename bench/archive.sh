#!/usr/bin/env bash
# A whole archive two ways: the per-file route of docs/archives.md (GNU
# parallel, as many jobs as cores, a report a file, then the merge) against
# one kivrel report over the same files with -j as many, each the best of
# --runs wall times. The files are H.264 clips of a noisy test pattern, made
# once and kept in the build folder.
# usage: bench/archive.sh KIVREL [--files N] [--seconds S] [--size WxH] [--runs N] [--dir DIR]
#   defaults: 40 files of 10 s at 640x360, 25 fps; best of 3; build/archive-bench
set -euo pipefail
kivrel=$(realpath "$1")
shift
files=40 seconds=10 size=640x360 runs=3
dir="$(dirname "$0")/../build/archive-bench"
while [ $# -gt 0 ]; do
    case "$1" in
        --files) files=$2 ;;
        --seconds) seconds=$2 ;;
        --size) size=$2 ;;
        --runs) runs=$2 ;;
        --dir) dir=$2 ;;
        *) echo "unknown option: $1" >&2; exit 2 ;;
    esac
    shift 2
done
jobs=$(nproc)
archive="$dir/${files}x${seconds}s-$size"
mkdir -p "$archive"
for i in $(seq -w 1 "$files"); do
    clip="$archive/tape$i.mxf"
    [ -s "$clip" ] ||
        ffmpeg -v error -y -f lavfi -i "testsrc2=s=$size:r=25:d=$seconds,noise=alls=12:allf=t" \
            -c:v libx264 -preset veryfast -crf 20 -pix_fmt yuv420p -f mp4 "$clip"
done
cd "$archive"

best() {  # command...: the least wall time of `runs` runs, in seconds
    local least="" t start
    for _ in $(seq "$runs"); do
        start=$(date +%s.%N)
        "$@" >/dev/null 2>&1 || true
        t=$(echo "$(date +%s.%N) - $start" | bc)
        if [ -z "$least" ] || [ "$(echo "$t < $least" | bc)" = 1 ]; then least=$t; fi
    done
    echo "$least"
}
per_file() {
    rm -rf qc
    find . -type f -name '*.mxf' -print0 | LC_ALL=C sort -z |
        parallel -0 -j"$jobs" "mkdir -p qc/{//} && $kivrel report {} -o qc/{}.json"
    find . -type f -name '*.mxf' -print0 | LC_ALL=C sort -z | sed -z 's|^|qc/|; s|$|.json|' |
        "$kivrel" report --merge --files0-from - -y -o merged.csv
}
one_run() {
    find . -type f -name '*.mxf' -print0 | LC_ALL=C sort -z | "$kivrel" report --files0-from - -j "$jobs" -y -o one.csv
}
a=$(best per_file)
b=$(best one_run)
cmp -s merged.csv one.csv || { echo "the two routes' reports differ" >&2; exit 1; }
printf '%d files of %d s at %s, %d cores: per file (parallel -j%d, then --merge) %.2f s; one run (-j %d) %.2f s; ratio %.2f\n' \
    "$files" "$seconds" "$size" "$jobs" "$jobs" "$a" "$jobs" "$b" "$(echo "$a / $b" | bc -l)"
