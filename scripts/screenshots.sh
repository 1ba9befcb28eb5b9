#!/usr/bin/env bash
# Redraws the README's pictures of the configuration dialog:
#   docs/images/dialog-windows.png   the Windows dialog, shown by the built
#                                    kivrel.vdf under Wine's X11 driver on a
#                                    virtual X server (Xvfb), grabbed with import
#   docs/images/dialog-terminal.txt  the terminal form in an 80x24 tmux pane
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
scripts/deps.sh docs
images=docs/images
mkdir -p "$images"

cmake -S "$root" -B build/win64 -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-x86_64.cmake" >/dev/null
cmake --build build/win64 -j "$(nproc)" --target kivrel kivrel_configure_probe
cmake -S "$root" -B build/native >/dev/null
cmake --build build/native -j "$(nproc)" --target kivrel kivrel_configure_probe

work=$(mktemp -d)
export WINEPREFIX="$work/wine" WINEDEBUG=-all
xvfb=""
cleanup() {
    /usr/lib/wine/wineserver -k 2>/dev/null || true
    [ -n "$xvfb" ] && kill "$xvfb" 2>/dev/null
    tmux -L "kivrel-shot-$$" kill-server 2>/dev/null || true
    rm -rf "$work"
}
trap cleanup EXIT

# The Windows dialog. Wine's own desktop window draws the caption (there is
# no window manager), sized to the dialog plus a margin: the dialog centres
# itself on it.
Xvfb -displayfd 3 -screen 0 640x720x24 -nolisten tcp 3>"$work/display" 2>/dev/null &
xvfb=$!
for _ in $(seq 50); do [ -s "$work/display" ] && break; sleep 0.1; done
export DISPLAY=":$(cat "$work/display")"
/usr/lib/wine/wine64 wineboot -i >/dev/null 2>&1
/usr/lib/wine/wineserver -w
probe=$(/usr/lib/wine/wine64 winepath -w "$root/build/win64/tests/kivrel_configure_probe.exe" 2>/dev/null)
module=$(/usr/lib/wine/wine64 winepath -w "$root/build/win64/kivrel.vdf" 2>/dev/null)
desktop=327x497
/usr/lib/wine/wine64 explorer "/desktop=kivrel,$desktop" "$probe" "$module" >/dev/null 2>&1 &
sleep 8
import -window root -crop "$desktop+0+0" +repage "$images/dialog-windows.png"

# The terminal form, as tmux sees it.
tmux -L "kivrel-shot-$$" -f /dev/null new-session -d -x 80 -y 24 \
    "TERM=screen '$root/build/native/tests/kivrel_configure_probe' '$root/build/native/kivrel.so' >/dev/null; sleep 10"
sleep 1
tmux -L "kivrel-shot-$$" capture-pane -p -t 0 | sed -e 's/[[:space:]]*$//' >"$images/dialog-terminal.txt"
echo "wrote $images/dialog-windows.png and $images/dialog-terminal.txt"
