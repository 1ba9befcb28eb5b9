#!/usr/bin/env bash
# kivrel report --merge over many small reports: the JSON reader's cost.
# usage: bench/report_merge.sh KIVREL [COUNT]   (default 10000 reports)
set -euo pipefail
kivrel=$(realpath "$1")
count=${2:-10000}
dir=$(mktemp -d)
trap 'rm -rf "$dir"' EXIT
cd "$dir"
ffmpeg -v error -y -f lavfi -i testsrc=s=32x16:r=25:d=0.2 -c:v ffv1 a.mkv
"$kivrel" report a.mkv -o a.json -y
mkdir r
for i in $(seq 1 "$count"); do cp a.json "r/$i.json"; done
start=$(date +%s.%N)
"$kivrel" report --merge r/*.json -o merged.json -y
end=$(date +%s.%N)
echo "$count reports of $(wc -c <a.json) bytes merged in $(echo "$end - $start" | bc) s"
