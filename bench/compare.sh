#!/usr/bin/env bash
# Kivrel beside FFmpeg's nearest filters, measured in one run on one machine.
#
# 1. The module: ns per source pixel on two 1920x1080 frames (photo-like and
#    the test card). Kivrel through its exports (kivrel_bench, CPU time of its
#    one thread, best of --runs); FFmpeg single-threaded on the very same
#    pixels (kivrel_bench writes them out), its user CPU time with the scope
#    filter minus the same graph without it, best of --runs each:
#      "alone":     its input already in the filter's pixel format
#      "with conv": from BGRA, as Kivrel gets it (its format conversion counted)
# 2. End to end: a 1080p H.264 clip (made once, from the same photo-like
#    frame, zoomed and panned), `kivrel clip.mp4 -d DISPLAY --null` against
#    FFmpeg decoding it alone and against FFmpeg's nearest filter graph, all
#    with default threads, best of --runs wall time; peak memory with the null
#    output and with an FFV1 encode of the video view.
#
# Ratios are FFmpeg's time over Kivrel's: above 1, Kivrel is faster. Only
# figures from one run compare; on a busy machine, rerun before believing a
# change of less than about a third.
#
# usage: bench/compare.sh [--markdown] [--runs N] [--frames N] [--clip-frames N]
#                         [--module-only | --end-to-end-only] [--build-dir DIR]
#   --markdown         the tables in Markdown, to paste
#   --runs N           best of N for every figure (3)
#   --frames N         frames in each FFmpeg run of part 1 (60)
#   --clip-frames N    the end-to-end clip's length (150); kept for the next run
#   --module-only      part 1 alone
#   --end-to-end-only  part 2 alone
#   --build-dir DIR    where to build and keep the frames and the clip (build/bench)
set -euo pipefail
shopt -s inherit_errexit

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
markdown=0
runs=3
frames=60          # frames per FFmpeg module measurement
clip_frames=150    # length of the end-to-end clip
end_to_end=1
module_part=1
build="$root/build/bench"

usage() {  # usage STATUS: the comment above, on standard error unless asked for
    local text
    text=$(sed -n '2,/^set -euo/p' "${BASH_SOURCE[0]}" | sed '$d; s/^# \{0,1\}//')
    if [ "$1" -eq 0 ]; then echo "$text"; else echo "$text" >&2; fi
    exit "$1"
}

count() {  # count NAME VALUE: a whole number from 1
    [[ "$2" =~ ^[1-9][0-9]*$ ]] || { echo "$1: '$2' is not a whole number from 1" >&2; exit 2; }
}

while [ $# -gt 0 ]; do
    case "$1" in
        --markdown) markdown=1 ;;
        --runs) count "$1" "${2-}"; runs=$2; shift ;;
        --frames) count "$1" "${2-}"; frames=$2; shift ;;
        --clip-frames) count "$1" "${2-}"; clip_frames=$2; shift ;;
        --module-only) end_to_end=0 ;;
        --end-to-end-only) module_part=0 ;;
        --build-dir) [ -n "${2-}" ] || usage 2; build=$2; shift ;;
        -h | --help) usage 0 ;;
        *) echo "unknown option: $1" >&2; usage 2 ;;
    esac
    shift
done

log() { echo "compare: $*" >&2; }

# --- what it needs -------------------------------------------------------------
"$root/scripts/deps.sh" bench

log "building kivrel, kivrel.so and kivrel_bench in $build"
launcher=()
if command -v ccache >/dev/null; then
    export CCACHE_BASEDIR="${CCACHE_BASEDIR:-$(dirname "$root")}"
    launcher=(-DCMAKE_C_COMPILER_LAUNCHER=ccache -DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
fi
cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKIVREL_CLI=ON -DKIVREL_BENCH=ON \
    -DKIVREL_TESTS=OFF "${launcher[@]}" >"$build.configure.log" 2>&1 ||
    { cat "$build.configure.log" >&2; exit 1; }
jobs=$(nproc)
[ "$jobs" -le 2 ] || jobs=2  # other work shares the machine; a full build is not wanted here
cmake --build "$build" -j"$jobs" --target kivrel kivrel_cli kivrel_bench >"$build.build.log" 2>&1 ||
    { tail -50 "$build.build.log" >&2; exit 1; }

kivrel="$build/kivrel"
bench="$build/bench/kivrel_bench"
work="$build/compare"
mkdir -p "$work"
# The module reads its saved defaults (maxIRE) at start: give it none.
export KIVREL_REGISTRY="$work/no-saved-defaults.reg"
rm -f "$KIVREL_REGISTRY"

# --- numbers and tables --------------------------------------------------------
# calc EXPRESSION: awk arithmetic, printed with %.6g
calc() { awk "BEGIN { printf \"%.6g\", $1 }"; }
# ratio SLOWER FASTER: "3.2x"; "n/a" when either is not above 0
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { if (a > 0 && b > 0) printf "%.2fx", a / b; else printf "n/a" }'; }
# fixed VALUE DIGITS: a number to print, "~0" at or below zero (noise)
fixed() { awk -v v="$1" -v d="$2" 'BEGIN { if (v <= 0) printf "~0"; else printf "%.*f", d, v }'; }

# row CELL...: one table row; Markdown at once, aligned text by end_table
table=()
row() {
    if [ "$markdown" -eq 1 ]; then
        local line="|"
        for cell in "$@"; do line+=" $cell |"; done
        echo "$line"
    else
        table+=("$(IFS=$'\t'; echo "$*")")
    fi
}
# header CELL...: a row, and under it the Markdown rule
header() {
    row "$@"
    if [ "$markdown" -eq 1 ]; then
        local line="|---|"
        for ((i = 1; i < $#; ++i)); do line+="---:|"; done
        echo "$line"
    fi
}
# end_table: the rows so far as aligned text, the first column to the left
end_table() {
    [ "$markdown" -eq 0 ] || return 0
    printf '%s\n' "${table[@]}" | awk -F'\t' '
        { for (i = 1; i <= NF; ++i) { cell[NR, i] = $i; if (length($i) > width[i]) width[i] = length($i) }
          if (NF > columns) columns = NF }
        END { for (r = 1; r <= NR; ++r) {
                  line = sprintf("%-" width[1] "s", cell[r, 1])
                  for (i = 2; i <= columns; ++i) line = line sprintf("  %" width[i] "s", cell[r, i])
                  print line } }'
    table=()
}
title() {
    echo
    if [ "$markdown" -eq 1 ]; then echo "**${*}**"; else echo "$*"; fi
    echo
}
note() { echo "$*"; }

# best_of N COMMAND...: the smallest number COMMAND prints over N runs
best_of() {
    local n=$1 best="" value
    shift
    for ((i = 0; i < n; ++i)); do
        value=$("$@")
        best=$(awk -v a="$value" -v b="$best" 'BEGIN { print (b == "" || a + 0 < b + 0) ? a : b }')
    done
    echo "$best"
}

# --- the machine ---------------------------------------------------------------
cpu=$(awk -F': *' '/^model name/ { print $2; exit }' /proc/cpuinfo)
cores=$(nproc)
ffmpeg_version=$(ffmpeg -hide_banner -version | awk 'NR == 1 { print $3 }')
kivrel_version=$(git -C "$root" describe --always --dirty 2>/dev/null || echo unknown)
load=$(cut -d' ' -f1-3 /proc/loadavg)

# --- 1. the module, on the same frames -----------------------------------------
W=1920
H=1080
pixels=$((W * H))
contents=(photo card)
# Kivrel's rows: display, kivrel_bench name, FFmpeg's pixel format and filter.
displays=(
    "video view, grey|video_grey|bgr0|copy"
    "video view, channel mask|video_mask|bgr0|copy"
    "hot pixel scan|hotpixel|yuv444p|signalstats=out=brng"
    "histograms|histograms|gbrp|histogram"
    "waveform|waveform|gbrp|waveform=display=stack:components=7"
    "vectorscope|vectorscope|yuv444p|vectorscope=m=color2"
)
# What makes swscale convert as kivrel does (its swsFlags()).
exact_sws_flags=bicubic+accurate_rnd+full_chroma_int

if [ "$module_part" -eq 1 ]; then

for c in "${contents[@]}"; do
    "$bench" --write_frame="$c:${W}x$H:$work/$c.bgr0"
    for fmt in gbrp yuv444p; do
        ffmpeg -hide_banner -nostdin -loglevel error -y -f rawvideo -pix_fmt bgr0 -s "${W}x$H" \
            -i "$work/$c.bgr0" -f rawvideo -pix_fmt "$fmt" "$work/$c.$fmt"
    done
done


log "Kivrel through its exports, ${W}x$H, best of $runs"
bench_csv="$work/kivrel_bench.csv"
"$bench" --benchmark_filter="^exports/[a-z_]+/${W}x$H/(photo|card)\$" --benchmark_repetitions="$runs" \
    --benchmark_format=csv >"$bench_csv" 2>"$work/kivrel_bench.log"

# kivrel_ns NAME CONTENT: the best ns/px of exports/NAME/WxH/CONTENT
kivrel_ns() {
    awk -F, -v want="\"exports/$1/${W}x$H/$2\"" '
        /^name,/ { for (i = 1; i <= NF; ++i) if ($i == "\"ns/px\"") col = i; next }
        col && $1 == want && (best == "" || $col + 0 < best + 0) { best = $col }
        END { if (best == "") exit 1; print best }' "$bench_csv" ||
        { echo "kivrel_bench gave no result for $1 $2 (see $work/kivrel_bench.log)" >&2; exit 1; }
}

# ffmpeg_cpu INPUT FORMAT GRAPH: user CPU seconds of one single-threaded run
# over $frames copies of INPUT
ffmpeg_cpu() {
    local out
    out=$(ffmpeg -hide_banner -nostdin -nostats -benchmark -threads 1 -filter_threads 1 \
        -f rawvideo -pix_fmt "$2" -s "${W}x$H" -stream_loop -1 -i "$1" \
        -vf "$3" -frames:v "$frames" -threads 1 -f null - 2>&1) ||
        { echo "$out" >&2; echo "ffmpeg failed on $1 with -vf $3" >&2; return 1; }
    sed -n 's/^bench: utime=\([0-9.]*\)s.*/\1/p' <<<"$out"
}
ffmpeg_best() { best_of "$runs" ffmpeg_cpu "$@"; }
# per_pixel WITH WITHOUT: the difference in ns per pixel of one frame
per_pixel() { calc "($1 - $2) * 1e9 / ($frames * $pixels)"; }

declare -A kivrel_px ffmpeg_alone ffmpeg_conv
for c in "${contents[@]}"; do
    log "FFmpeg, $c frame: $frames frames a run, best of $runs"
    declare -A base=()
    for fmt in bgr0 gbrp yuv444p; do base[$fmt]=$(ffmpeg_best "$work/$c.$fmt" "$fmt" null); done
    for d in "${displays[@]}"; do
        IFS='|' read -r label name fmt filter <<<"$d"
        kivrel_px[$name.$c]=$(kivrel_ns "$name" "$c")
        if [ -z "${ffmpeg_alone[$fmt.$filter.$c]-}" ]; then
            ffmpeg_alone[$fmt.$filter.$c]=$(per_pixel "$(ffmpeg_best "$work/$c.$fmt" "$fmt" "$filter")" \
                "${base[$fmt]}")
            if [ "$fmt" = bgr0 ]; then
                ffmpeg_conv[$fmt.$filter.$c]=${ffmpeg_alone[$fmt.$filter.$c]}
            else
                ffmpeg_conv[$fmt.$filter.$c]=$(per_pixel \
                    "$(ffmpeg_best "$work/$c.bgr0" bgr0 "format=$fmt,$filter")" "${base[bgr0]}")
            fi
        fi
    done
done
fi

# --- 2. end to end ---------------------------------------------------------------
if [ "$end_to_end" -eq 1 ]; then
    clip="$work/clip-$clip_frames.mp4"
    if [ ! -s "$clip" ]; then
        [ -s "$work/photo.bgr0" ] || "$bench" --write_frame="photo:${W}x$H:$work/photo.bgr0"
        log "making $clip: $clip_frames frames of 1080p H.264 from the photo-like frame"
        # A slow zoom with a drift, so that every frame differs as in real footage.
        ffmpeg -hide_banner -nostdin -loglevel error -y -f rawvideo -pix_fmt bgr0 -s "${W}x$H" \
            -i "$work/photo.bgr0" \
            -vf "zoompan=z='1+0.0015*on':x='(iw-iw/zoom)*on/$clip_frames':y='(ih-ih/zoom)/2':d=$clip_frames:s=${W}x$H:fps=25" \
            -frames:v "$clip_frames" -c:v libx264 -preset fast -crf 20 -pix_fmt yuv420p "$clip.part.mp4"
        mv "$clip.part.mp4" "$clip"
    fi
    # The same pictures at 10 bits, for the report's source measures at depth.
    clip10="$work/clip-$clip_frames-10bit.mp4"
    if [ ! -s "$clip10" ]; then
        log "making $clip10: the clip again as 10-bit H.264"
        ffmpeg -hide_banner -nostdin -loglevel error -y -i "$clip" -c:v libx264 -preset fast -crf 20 \
            -pix_fmt yuv420p10le "$clip10.part.mp4"
        mv "$clip10.part.mp4" "$clip10"
    fi

    # timed COMMAND...: "WALL_SECONDS PEAK_KB" of one run, output discarded
    timed() {
        local report="$work/time.txt"
        /usr/bin/time -f '%e %M' -o "$report" "$@" >/dev/null 2>"$work/last_run.log" ||
            { cat "$work/last_run.log" >&2; echo "failed: $*" >&2; return 1; }
        cat "$report"
    }
    # best_of NEW BEST: the smaller of two times; BEST may be empty
    best_of() { awk -v a="$1" -v b="$2" 'BEGIN { print (b == "" || a + 0 < b + 0) ? a : b }'; }
    # timed_best COMMAND...: "BEST_WALL PEAK_KB" over $runs runs (the peak of all)
    timed_best() {
        local best="" peak=0 wall kb
        for ((i = 0; i < runs; ++i)); do
            read -r wall kb <<<"$(timed "$@")"
            best=$(best_of "$wall" "$best")
            [ "$kb" -le "$peak" ] || peak=$kb
        done
        echo "$best $peak"
    }

    log "end to end: FFmpeg decoding alone, best of $runs"
    read -r decode_s decode_kb <<<"$(timed_best ffmpeg -hide_banner -nostdin -loglevel error -i "$clip" -f null -)"
    declare -A e2e_kivrel e2e_ffmpeg e2e_kivrel_kb e2e_ffmpeg_kb
    for d in "${displays[@]}"; do
        IFS='|' read -r label name fmt filter <<<"$d"
        [ "$name" != video_mask ] || continue  # the command line has no mask-only view by default
        display=${name%_grey}
        log "end to end: $display, best of $runs"
        read -r s kb <<<"$(timed_best "$kivrel" "$clip" -d "$display" --null -q)"
        e2e_kivrel[$name]=$s
        e2e_kivrel_kb[$name]=$kb
        read -r s kb <<<"$(timed_best ffmpeg -hide_banner -nostdin -loglevel error -i "$clip" \
            -vf "format=$fmt,$filter" -f null -)"
        e2e_ffmpeg[$name]=$s
        e2e_ffmpeg_kb[$name]=$kb
    done

    # Its fast path is inexact (out-of-gamut levels wrap, chroma is not
    # interpolated): the same graph again with the flags that make swscale
    # round accurately and keep full chroma, as Kivrel's conversion does.
    log "end to end: the video view's graph with accurate conversion, best of $runs"
    # (After -i: before it, the flags would be the input's and go unused.)
    read -r exact_s exact_kb <<<"$(timed_best ffmpeg -hide_banner -nostdin -loglevel error \
        -i "$clip" -sws_flags "$exact_sws_flags" -vf format=bgr0,copy -f null -)"

    log "end to end: an FFV1 encode of the video view, once each"
    read -r enc_kivrel_s enc_kivrel_kb <<<"$(timed "$kivrel" "$clip" -d video -q -y -o "$work/kivrel.mkv")"
    enc_fmt=$(ffprobe -v error -select_streams v:0 -show_entries stream=pix_fmt -of csv=p=0 "$work/kivrel.mkv")
    read -r enc_ffmpeg_s enc_ffmpeg_kb <<<"$(timed ffmpeg -hide_banner -nostdin -loglevel error -y -i "$clip" \
        -vf "format=$enc_fmt" -c:v ffv1 "$work/ffmpeg.mkv")"
    rm -f "$work/kivrel.mkv" "$work/ffmpeg.mkv"
    # Taken in turns with the waveform it is held against, so that a machine
    # that slows down during the run slows all three alike.
    log "end to end: the legality report, as a table and as its page, against the waveform, best of $runs"
    report_s="" page_s="" wave_again_s="" report_kb=0 page_kb=0
    for ((r = 0; r < runs; ++r)); do
        read -r s kb <<<"$(timed "$kivrel" report "$clip")"
        report_s=$(best_of "$s" "$report_s")
        [ "$kb" -le "$report_kb" ] || report_kb=$kb
        read -r s kb <<<"$(timed "$kivrel" report "$clip" -y -o "$work/report.html")"
        page_s=$(best_of "$s" "$page_s")
        [ "$kb" -le "$page_kb" ] || page_kb=$kb
        read -r s kb <<<"$(timed "$kivrel" "$clip" -d waveform --null -q)"
        wave_again_s=$(best_of "$s" "$wave_again_s")
    done
    read -r wave_file_s wave_file_kb <<<"$(timed "$kivrel" "$clip" -d waveform -q -y -o "$work/waveform.mkv")"

    # The report's CPU time (user + system, every thread), 8 and 10 bits, and
    # the share of it the source's own measures take, from perf's samples.
    cpu_time() {
        /usr/bin/time -f '%U %S' -o "$work/cpu.txt" "$@" >/dev/null 2>"$work/last_run.log" ||
            { cat "$work/last_run.log" >&2; echo "failed: $*" >&2; return 1; }
        awk '{ print $1 + $2 }' "$work/cpu.txt"
    }
    source_share() {  # source_share CLIP: percent of the report's samples in the source gauge, or "n/a"
        if ! command -v perf >/dev/null ||
            ! perf record -q -F 999 -o "$work/perf.data" -- "$kivrel" report "$1" >/dev/null 2>&1; then
            echo n/a
            return
        fi
        perf report -i "$work/perf.data" --stdio --no-children --sort symbol 2>/dev/null |
            awk '/SourceGauge::/ { sub("%", "", $1); s += $1 } END { printf "%.1f\n", s }'
        rm -f "$work/perf.data"
    }
    log "end to end: the report's CPU time at 8 and 10 bits, best of $runs, and the source measures' share"
    report_cpu8="" report_cpu10=""
    for ((r = 0; r < runs; ++r)); do
        report_cpu8=$(best_of "$(cpu_time "$kivrel" report "$clip")" "$report_cpu8")
        report_cpu10=$(best_of "$(cpu_time "$kivrel" report "$clip10")" "$report_cpu10")
    done
    share8=$(source_share "$clip")
    share10=$(source_share "$clip10")
    rm -f "$work/report.html" "$work/waveform.mkv"
fi

# --- the report --------------------------------------------------------------------
title "Kivrel $kivrel_version against FFmpeg $ffmpeg_version"
note "Machine: $cpu, $cores cores; load average at the start $load."
note "Ratios are FFmpeg's time over Kivrel's (above 1: Kivrel is faster), all from this run."

if [ "$module_part" -eq 1 ]; then
title "The module, ns per source pixel, ${W}x$H, one thread"
note "Kivrel: through its exports (kivrel_bench), CPU time, best of $runs. FFmpeg: -threads 1"
note "-filter_threads 1, user CPU time over $frames frames with the filter minus without, best of $runs;"
note "\"alone\" from input already in the filter's format, \"with conv\" from BGRA (bgr0)."
echo
header "display (FFmpeg filter)" "frame" "Kivrel" "FFmpeg alone" "FFmpeg w/ conv" "ratio alone" "ratio w/ conv"
for d in "${displays[@]}"; do
    IFS='|' read -r label name fmt filter <<<"$d"
    short=${filter%%=*}
    [ "$fmt" = bgr0 ] || short="$fmt $short"
    for c in "${contents[@]}"; do
        k=${kivrel_px[$name.$c]}
        a=${ffmpeg_alone[$fmt.$filter.$c]}
        v=${ffmpeg_conv[$fmt.$filter.$c]}
        row "$label ($short)" "$c" "$(fixed "$k" 2)" "$(fixed "$a" 2)" "$(fixed "$v" 2)" \
            "$(ratio "$a" "$k")" "$(ratio "$v" "$k")"
    done
done
end_table
fi

if [ "$end_to_end" -eq 1 ]; then
    title "End to end: $clip_frames frames of 1080p H.264, default threads, best of $runs"
    note "FFmpeg decoding alone: $(fixed "$decode_s" 2) s, peak $((decode_kb / 1024)) MB."
    note "Kivrel: kivrel clip.mp4 -d DISPLAY --null. FFmpeg: ffmpeg -i clip.mp4 -vf GRAPH -f null -."
    echo
    header "display" "FFmpeg graph" "Kivrel s" "FFmpeg s" "ratio" "Kivrel / decode" "Kivrel MB" "FFmpeg MB"
    for d in "${displays[@]}"; do
        IFS='|' read -r label name fmt filter <<<"$d"
        [ "$name" != video_mask ] || continue
        row "$label" "format=$fmt,${filter%%=*}" "$(fixed "${e2e_kivrel[$name]}" 2)" \
            "$(fixed "${e2e_ffmpeg[$name]}" 2)" "$(ratio "${e2e_ffmpeg[$name]}" "${e2e_kivrel[$name]}")" \
            "$(ratio "${e2e_kivrel[$name]}" "$decode_s")" "$((e2e_kivrel_kb[$name] / 1024))" \
            "$((e2e_ffmpeg_kb[$name] / 1024))"
    done
    row "video view, grey" "format=bgr0,copy, -sws_flags $exact_sws_flags" "$(fixed "${e2e_kivrel[video_grey]}" 2)" \
        "$(fixed "$exact_s" 2)" "$(ratio "$exact_s" "${e2e_kivrel[video_grey]}")" \
        "$(ratio "${e2e_kivrel[video_grey]}" "$decode_s")" "$((e2e_kivrel_kb[video_grey] / 1024))" \
        "$((exact_kb / 1024))"
    end_table
    echo
    note "FFV1 encode of the video view ($enc_fmt): Kivrel $(fixed "$enc_kivrel_s" 2) s, peak" \
        "$((enc_kivrel_kb / 1024)) MB; FFmpeg (-vf format=$enc_fmt -c:v ffv1) $(fixed "$enc_ffmpeg_s" 2) s," \
        "peak $((enc_ffmpeg_kb / 1024)) MB."
    note "The legality report (kivrel report clip.mp4): $(fixed "$report_s" 2) s, peak $((report_kb / 1024)) MB;" \
        "with its page (-o report.html): $(fixed "$page_s" 2) s, peak $((page_kb / 1024)) MB; taken in turns" \
        "with them, the waveform with --null: $(fixed "$wave_again_s" 2) s; the waveform written to a file" \
        "(-o waveform.mkv, once): $(fixed "$wave_file_s" 2) s."
    note "The report's CPU time (user + system, best of $runs): $(fixed "$report_cpu8" 2) s on the clip," \
        "$(fixed "$report_cpu10" 2) s on its 10-bit version; the source's own measures take $share8 % and" \
        "$share10 % of it (perf's samples)."
fi
