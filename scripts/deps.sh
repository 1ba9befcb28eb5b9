#!/usr/bin/env bash
# Installs whatever the build and the tests need and this machine lacks.
# usage: scripts/deps.sh [core|cli|all|docs|package|bench]   (default: all)
set -euo pipefail

core=(cmake make g++ pkg-config binutils googletest libbenchmark-dev clang libclang-rt-dev libncurses-dev tmux)
cli=(libavformat-dev libavcodec-dev libswscale-dev libavutil-dev libsdl2-dev
     dpkg-dev file bash-completion groff-base man-db
     chromium   # the Debian package, its page and completion; chromium: the report page's test
     xvfb xdotool xauth)  # kivrel play's window, under a test's own X server
cross=(g++-mingw-w64-x86-64-posix g++-mingw-w64-i686-posix binutils-mingw-w64-x86-64
       binutils-mingw-w64-i686 wine64)
docs=(xvfb imagemagick)  # the README's screenshots (scripts/screenshots.sh)
package=(zip)            # the Windows package (scripts/package-windows.sh)
bench=(ffmpeg time)      # Kivrel beside FFmpeg (bench/compare.sh)

case "${1:-all}" in
    core) want=("${core[@]}") ;;
    cli) want=("${core[@]}" "${cli[@]}") ;;
    all) want=("${core[@]}" "${cli[@]}" "${cross[@]}") ;;
    docs) want=("${core[@]}" "${cross[@]}" "${docs[@]}") ;;
    package) want=("${core[@]}" "${cross[@]}" "${package[@]}") ;;
    bench) want=("${core[@]}" "${cli[@]}" "${bench[@]}") ;;
    *) echo "usage: $0 [core|cli|all|docs|package|bench]" >&2; exit 2 ;;
esac

missing=()
for p in "${want[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
    echo "installing: ${missing[*]}"
    sudo=""
    [ "$(id -u)" -eq 0 ] || sudo=sudo
    $sudo apt-get update -qq
    DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq "${missing[@]}" >/dev/null
fi
