#!/usr/bin/env bash
# Each display through FFmpeg's -vf frei0r beside the same display through
# kivrel, on the same 1920x1080 BGRA frames (FFmpeg's testsrc2), one thread
# each, CPU time (user + system) per frame, best of --runs:
#   frei0r   ffmpeg -vf frei0r=kivrel:DISPLAY  less  the same graph with -vf null
#   kivrel   kivrel -d DISPLAY --null          less  kivrel --passthru --null
# kivrel's baseline still runs the module's pass-through view (a copy of
# the frame), so its figure leaves out that copy; the frei0r figure holds the
# fitting of the display into the frame. Ratios are frei0r's over kivrel's:
# at most 1.2 is the aim. A timing, never a test: on a busy machine, rerun.
#
# usage: bench/frei0r.sh [--runs N] [--frames N] [--size WxH] [--build-dir DIR]
#   --runs N         best of N for every figure (3)
#   --frames N       frames in each run (60)
#   --size WxH       the frames' size (1920x1080)
#   --build-dir DIR  the native build with kivrel and kivrel-frei0r.so (build/native)
set -euo pipefail

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
runs=3
frames=60
size=1920x1080
build="$root/build/native"
while [ $# -gt 0 ]; do
    case "$1" in
        --runs) runs=$2; shift 2 ;;
        --frames) frames=$2; shift 2 ;;
        --size) size=$2; shift 2 ;;
        --build-dir) build=$2; shift 2 ;;
        *) sed -n '2,17s/^# \{0,1\}//p' "$0" >&2; exit 2 ;;
    esac
done
for tool in ffmpeg /usr/bin/time; do
    command -v "$tool" >/dev/null || { echo "bench/frei0r.sh: $tool is missing (scripts/deps.sh bench)" >&2; exit 1; }
done
for file in "$build/kivrel" "$build/kivrel-frei0r.so"; do
    [ -e "$file" ] || { echo "bench/frei0r.sh: no $file: build $build first" >&2; exit 1; }
done

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir "$work/frei0r-1"
ln -s "$(cd "$build" && pwd)/kivrel-frei0r.so" "$work/frei0r-1/kivrel.so"
export FREI0R_PATH=$work/frei0r-1 KIVREL_REGISTRY=$work/no-saved-defaults.reg
ffmpeg -v error -f lavfi -i "testsrc2=size=$size:rate=25" -frames:v "$frames" -pix_fmt bgra \
    -f rawvideo "$work/in.bgra"
raw=(-f rawvideo -pix_fmt bgra -s "$size" -r 25 -i "$work/in.bgra")

# The least CPU seconds (user + system) of --runs runs of the command.
cpu() {
    local best="" t
    for _ in $(seq "$runs"); do
        /usr/bin/time -f "%U %S" -o "$work/time" "$@" >/dev/null 2>&1 || { echo "failed: $*" >&2; exit 1; }
        t=$(awk '{print $1 + $2}' "$work/time")
        best=$(awk -v a="$t" -v b="$best" 'BEGIN {print (b == "" || a < b) ? a : b}')
    done
    echo "$best"
}
per_frame_ms() { awk -v a="$1" -v b="$2" -v n="$frames" 'BEGIN {printf "%.2f", (a - b) * 1000 / n}'; }

ffmpeg_base=$(cpu ffmpeg -v error -threads 1 -filter_threads 1 "${raw[@]}" -vf null -f null -)
kivrel_base=$(cpu "$build/kivrel" -q -threads 1 "${raw[@]}" --passthru --null)
printf '%-12s %14s %14s %7s\n' display "frei0r ms/fr" "kivrel ms/fr" ratio
for display in video hotpixel histograms waveform vectorscope; do
    f=$(cpu ffmpeg -v error -threads 1 -filter_threads 1 "${raw[@]}" -vf "frei0r=kivrel:$display" -f null -)
    k=$(cpu "$build/kivrel" -q -threads 1 "${raw[@]}" -d "$display" --no-passthru --null)
    fm=$(per_frame_ms "$f" "$ffmpeg_base")
    km=$(per_frame_ms "$k" "$kivrel_base")
    ratio=$(awk -v a="$fm" -v b="$km" 'BEGIN {if (b > 0) printf "%.2f", a / b; else print "-"}')
    printf '%-12s %14s %14s %7s\n' "$display" "$fm" "$km" "$ratio"
done
