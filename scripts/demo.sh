#!/usr/bin/env bash
# Builds the filter module and the command-line host, then renders all five
# displays of the built-in test card (75 % colour bars over a full-range grey
# ramp) into out/: video.png hotpixel.png histograms.png waveform.png
# vectorscope.png, and the picture beside its waveform, vectorscope and
# histograms of the frame's centre as one monitor, monitor.png, and the
# parade of its colour channels, parade.png. Installs what
# the build needs first. Safe to run again.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
# The test command's native build folder: what the demo compiles, the
# suite's build then reuses rather than compiling it a second time.
build="$root/build/native"
out="$root/out"

"$root/scripts/deps.sh" cli

# Its tests need what only the test command installs: left out when the
# folder is new, kept when the test command configured it first.
tests=()
[ -f "$build/CMakeCache.txt" ] || tests=(-DKIVREL_TESTS=OFF)
cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKIVREL_CLI=ON "${tests[@]}" >/dev/null
cmake --build "$build" --target kivrel_cli -j "$(nproc)"

mkdir -p "$out"
for display in video hotpixel histograms waveform vectorscope; do
    # Explicit, so stored preferences cannot turn every display into the picture.
    "$build/kivrel" -d "$display" --no-passthru -o "$out/$display.png" -y -q
done
# The picture with its scopes, measuring the centre quarter of the frame.
"$build/kivrel" -d picture,waveform,vectorscope,histograms --layout grid --crop iw/2:ih/2 --labels \
    -o "$out/monitor.png" -y -q
# Every level of each colour channel: one waveform panel per channel.
"$build/kivrel" -d parade --channels red,green,blue --labels -o "$out/parade.png" -y -q
echo
echo "The five displays of the test card are in $out:"
for display in video hotpixel histograms waveform vectorscope; do
    echo "  $out/$display.png"
done
echo "and a monitor of the picture with its scopes on the frame's centre:"
echo "  $out/monitor.png"
echo "and the colour channels' waveforms side by side, every level of each:"
echo "  $out/parade.png"
