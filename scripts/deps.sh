#!/usr/bin/env bash
# Installs whatever the named groups need and this machine lacks, so each
# script installs only what it uses.
# usage: scripts/deps.sh [GROUP...]   (default: all)
#   build    the modules (cmake, g++, ncurses, frei0r.h)
#   cli      the command-line host: build, FFmpeg's libraries and the JSON library (scripts/demo.sh)
#   tests    the suites: GoogleTest, Google Benchmark and the tools the tests run
#   page     chromium, for the test and the picture of the report page
#   fuzz     clang and its libFuzzer runtime
#   engines  GNU parallel, OpenSSH and Slurm, for the archive recipes' tests
#   cross    mingw-w64 and Wine, for the Windows builds
#   i686     the 32-bit Linux build (multilib g++, ncurses) and qemu-i386 to run it
#   dev      cli, tests and ninja, for the CMake presets (CMakePresets.json)
#   core     build, tests and fuzz: everything but FFmpeg and the cross builds
#   all      everything scripts/test.sh runs
#   docs     the README's screenshots (scripts/screenshots.sh)
#   package  the Windows package (scripts/package-windows.sh)
#   bench    Kivrel beside FFmpeg (bench/compare.sh)
set -euo pipefail

build=(cmake make g++ pkg-config binutils libncurses-dev
       frei0r-plugins-dev)  # frei0r.h, for the frei0r filter
ffmpeg_libs=(libavformat-dev libavcodec-dev libswscale-dev libavutil-dev libavdevice-dev libsdl2-dev libx11-dev)
# kivrel's other libraries: the JSON reader of kivrel report --merge.
# kivrel is built natively only (native, asan, fuzz), so no cross build needs them.
cli_libs=(nlohmann-json3-dev)
# GoogleTest; the benchmarks build with the native suite; tmux drives the
# terminal form; the Debian package, its manual page and completion.
tests=(googletest libbenchmark-dev tmux dpkg-dev file bash-completion groff-base man-db
       xvfb xdotool xauth  # and kivrel play's window, under a test's own X server
       ffmpeg              # which sends kivrel play's test a live UDP stream
       parallel            # GNU parallel: the report merge test runs the per-file step with it
       clang-format        # the sources' house format, checked as a test
       python3-numpy       # the conversion sweep's reference, on Debian's python3
       poppler-utils       # pdftoppm: the report page's printed pages as pictures
       melt gstreamer1.0-plugins-bad gstreamer1.0-tools)  # the frei0r filter's hosts (and ffmpeg)
page=(chromium)
# The batch engines the archive recipes run on: GNU parallel over ssh
# servers of a test's own, and a one-node Slurm cluster.
engines=(parallel openssh-server openssh-client rsync munge slurmctld slurmd slurm-client)
fuzz=(clang libclang-rt-dev)
cross=(g++-mingw-w64-x86-64-posix g++-mingw-w64-i686-posix binutils-mingw-w64-x86-64
       binutils-mingw-w64-i686 wine64)
# No foreign architecture: Debian's lib32 packages are amd64 ones.
i686=(g++-multilib lib32ncurses-dev qemu-user)
presets=(ninja-build)
docs=(xvfb imagemagick)
package=(zip)
bench=(libbenchmark-dev ffmpeg time)

usage() {
    sed -n '4,17s/^# \{0,1\}//p' "$0" >&2
    exit 2
}

want=()
for group in "${@:-all}"; do
    case "$group" in
        build) want+=("${build[@]}") ;;
        cli) want+=("${build[@]}" "${ffmpeg_libs[@]}" "${cli_libs[@]}") ;;
        tests) want+=("${build[@]}" "${tests[@]}") ;;
        page) want+=("${page[@]}") ;;
        engines) want+=("${engines[@]}") ;;
        fuzz) want+=("${build[@]}" "${fuzz[@]}") ;;
        cross) want+=("${build[@]}" "${cross[@]}") ;;
        i686) want+=("${build[@]}" "${i686[@]}") ;;
        dev) want+=("${build[@]}" "${ffmpeg_libs[@]}" "${cli_libs[@]}" "${tests[@]}" "${presets[@]}") ;;
        core) want+=("${build[@]}" "${tests[@]}" "${fuzz[@]}") ;;
        all) want+=("${build[@]}" "${ffmpeg_libs[@]}" "${cli_libs[@]}" "${tests[@]}" "${page[@]}" "${engines[@]}" "${fuzz[@]}" "${cross[@]}" "${i686[@]}") ;;
        docs) want+=("${build[@]}" "${tests[@]}" "${cross[@]}" "${docs[@]}") ;;
        package) want+=("${build[@]}" "${tests[@]}" "${cross[@]}" "${package[@]}") ;;
        bench) want+=("${build[@]}" "${ffmpeg_libs[@]}" "${cli_libs[@]}" "${bench[@]}") ;;
        *) usage ;;
    esac
done

missing=()
for p in $(printf '%s\n' "${want[@]}" | sort -u); do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
    echo "installing: ${missing[*]}"
    sudo=""
    [ "$(id -u)" -eq 0 ] || sudo=sudo
    $sudo apt-get update -qq
    DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq "${missing[@]}" >/dev/null
fi
