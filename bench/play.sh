#!/usr/bin/env bash
# kivrel play in real time under a private X server (Xvfb): a 1080p H.264
# clip played to its end with each display of the list, then the frames shown
# and dropped (kivrel's own exit line), the process's CPU time per frame read
# and its peak memory, the wall time per frame and the load average at the end (the
# machine's other work takes its share of the processors). A frame comes too late when rendering falls behind the
# clip's clock; the viewer drops it (not rendered), so "dropped" is the
# measure of keeping up.
#
# usage: bench/play.sh [--build-dir DIR] [--seconds N] [--rate FPS] [--screenshot PNG] [--screen WxH]
#                     [--memory FILE] [DISPLAYS...]
#   DISPLAYS       each a -d value, played in turn
#                  (default: picture,waveform,vectorscope,histograms with --layout grid)
#   --seconds N    the clip's length (10)
#   --rate FPS     its frame rate (30)
#   --screenshot PNG  the window of the first run, grabbed half-way through
#   --screen WxH   the X server's screen (1920x1080, a common desktop's: a
#                  monitor larger than it is shown at a picture size that fits)
#   --memory FILE  the viewer's resident memory every 10 s of each play
#                  ("display seconds MB" lines), to see it stay flat over a long clip
set -euo pipefail

build=build/native seconds=10 rate=30 screenshot="" screen=1920x1080 memory=""
displays=()
while [ $# -gt 0 ]; do
    case $1 in
    --build-dir) build=$2; shift 2 ;;
    --seconds) seconds=$2; shift 2 ;;
    --rate) rate=$2; shift 2 ;;
    --screenshot) screenshot=$2; shift 2 ;;
    --screen) screen=$2; shift 2 ;;
    --memory) memory=$2; : >"$memory"; shift 2 ;;
    -h | --help) sed -n '2,20p' "$0"; exit 0 ;;
    *) displays+=("$1"); shift ;;
    esac
done
[ ${#displays[@]} -gt 0 ] || displays=("picture,waveform,vectorscope,histograms")

kivrel=$(realpath "$build/kivrel")
work=$(mktemp -d)
server=""
cleanup() {
    [ -n "$server" ] && kill "$server" 2>/dev/null || true
    rm -rf "$work"
}
trap cleanup EXIT

clip=$work/clip.mp4
ffmpeg -v error -f lavfi -i "testsrc2=size=1920x1080:rate=$rate" -t "$seconds" -c:v libx264 -preset veryfast \
    -pix_fmt yuv420p "$clip"
frames=$((seconds * rate))

# A display number no other server holds.
for n in $(seq 170 210); do [ -e /tmp/.X$n-lock ] || break; done
Xvfb :$n -screen 0 "${screen}x24" -nolisten tcp 2>/dev/null &
server=$!
while [ ! -e /tmp/.X11-unix/X$n ]; do sleep 0.1; done
export DISPLAY=:$n

printf '| Displays | Shown | Dropped | CPU ms/frame | Wall ms/frame | Peak MB | Load |\n|---|---:|---:|---:|---:|---:|---:|\n'
for d in "${displays[@]}"; do
    layout=()
    [[ $d == *,* ]] && layout=(--layout grid)
    /usr/bin/time -f "%U %S %M %e" -o "$work/time" "$kivrel" play "$clip" -d "$d" "${layout[@]}" 2>"$work/err" &
    pid=$!
    # SDL may open and close a window of its own while it starts: ask until it is there.
    window=""
    until [ -n "$window" ]; do window=$(xdotool search --name kivrel 2>/dev/null | head -n 1 || true); sleep 0.1; done
    if [ -n "$screenshot" ]; then
        sleep "$((seconds / 2))"
        eval "$(xdotool getwindowgeometry --shell "$window")"
        ffmpeg -v error -y -f x11grab -video_size "${WIDTH}x${HEIGHT}" -i "$DISPLAY+$X,$Y" -frames:v 1 "$screenshot"
        screenshot=""
    fi
    # Played out: the viewer keeps to the clip's clock, so its length and a
    # second more see it to the end (no per-frame hashing to watch for it:
    # that would cost the viewer as much as a display).
    if [ -n "$memory" ]; then
        viewer=$(pgrep -P "$pid" -x kivrel || true)
        for ((t = 0; t <= seconds; t += 10)); do
            rss=$(awk '/^VmRSS/ {print int($2 / 1024)}' "/proc/$viewer/status" 2>/dev/null || echo "-")
            echo "$d $t $rss" >>"$memory"
            sleep 10
        done
    else
        sleep "$((seconds + 1))"
    fi
    xdotool key --window "$window" q 2>/dev/null || true
    wait $pid
    read -r user sys peak elapsed <"$work/time"
    load=$(cut -d' ' -f1 /proc/loadavg)
    line=$(grep "frames shown" "$work/err" | sed 's/^kivrel: //')
    grep "picture size" "$work/err" >&2 || true  # the size chosen to fit the screen, if any
    shown=${line%% frames shown*}
    dropped=$(echo "$line" | sed 's/.*shown, \([0-9]*\) dropped/\1/')
    cpu=$(echo "($user + $sys) * 1000 / $frames" | bc -l)
    wall=$(echo "$elapsed * 1000 / ($shown + $dropped)" | bc -l)
    printf '| %s | %s | %s | %.1f | %.1f | %d | %s |\n' "$d" "$shown" "$dropped" "$cpu" "$wall" $((peak / 1024)) "$load"
done
