#!/usr/bin/env bash
# Redraws docs/images/report.png, the README's picture of a legality report:
# a small made archive (a calm clip, colour bars out of range and hot with a
# drop-frame start timecode, a clip that goes hot in its middle), a JSON
# report per file as the archive recipes make them, merged into one page,
# and that page shot by headless chromium.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
scripts/deps.sh cli tests page
command -v ffmpeg >/dev/null || { echo "needs the ffmpeg command" >&2; exit 1; }
cmake -S "$root" -B build/native -DKIVREL_CLI=ON >/dev/null
cmake --build build/native -j "$(nproc)" --target kivrel_cli kivrel

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
# The saved defaults of this machine are not the picture's: an empty store of its own.
export KIVREL_REGISTRY="$work/none.reg"
mkdir -p "$work/archive"
cd "$work/archive"
clip() {  # name, lavfi graph, more ffmpeg options
    ffmpeg -v error -f lavfi -i "$2" "${@:3}" -pix_fmt yuv420p -c:v libx264 -crf 12 "$1"
}
clip calm.mp4 "testsrc2=s=960x540:r=25:d=4,eq=saturation=0.35"
clip bars.mov "smptehdbars=s=960x540:r=30000/1001:d=3" -timecode "01:00:00;00"
clip spike.mp4 "testsrc2=s=960x540:r=25:d=2,eq=saturation=0.35[a];
    testsrc2=s=960x540:r=25:d=1,eq=saturation=0.35:contrast=1.6[b];
    testsrc2=s=960x540:r=25:d=2,eq=saturation=0.35[c];
    [a][b][c]concat=n=3:v=1"
kivrel="$root/build/native/kivrel"
# EBU R 103's rule, so the chart of the share outside it has its area limit to show.
for f in spike.mp4 bars.mov calm.mp4; do
    "$kivrel" report "$f" --rule r103 -o "$f.json"
done
"$kivrel" report --merge spike.mp4.json bars.mov.json calm.mp4.json -o ../archive.html
chromium --headless --no-sandbox --disable-gpu --hide-scrollbars --window-size=1200,1500 \
    --screenshot="$root/docs/images/report.png" "file://$work/archive.html" 2>/dev/null
echo "wrote docs/images/report.png"
