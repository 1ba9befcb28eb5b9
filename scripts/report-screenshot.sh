#!/usr/bin/env bash
# Redraws docs/images/report.png, the README's picture of a legality report:
# a made clip (colour bars, hot and out of range, between two calm stretches)
# through `kivrel report`, the page shot by headless chromium.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
scripts/deps.sh cli tests page
command -v ffmpeg >/dev/null || { echo "needs the ffmpeg command" >&2; exit 1; }
cmake -S "$root" -B build/native -DKIVREL_CLI=ON >/dev/null
cmake --build build/native -j "$(nproc)" --target kivrel_cli kivrel

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
ffmpeg -v error -f lavfi -i "testsrc2=s=960x540:r=25:d=3,eq=saturation=0.35[a];
    smptehdbars=s=960x540:r=25:d=2[b];
    testsrc2=s=960x540:r=25:d=3,eq=saturation=0.35:contrast=0.8[c];
    [a][b][c]concat=n=3:v=1,format=yuv420p" -c:v libx264 -crf 12 "$work/delivery.mp4"
(cd "$work" && "$root/build/native/kivrel" report delivery.mp4 -o report.html)
chromium --headless --no-sandbox --disable-gpu --hide-scrollbars --window-size=1200,1500 \
    --screenshot="$root/docs/images/report.png" "file://$work/report.html" 2>/dev/null
echo "wrote docs/images/report.png"
