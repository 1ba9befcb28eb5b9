#!/usr/bin/env bash
# Builds the project and runs its tests, stage by stage: the native suite,
# the Debian package, the same suite under AddressSanitizer and UBSan, the
# fuzz targets, the suite cross-built for Windows x86_64 and run under Wine,
# the Windows i686 build (compiled and checked only), and the Linux i686
# module's own suite under qemu-i386 (these machines run no 32-bit program
# natively). Each stage's wall time is printed before the summary line,
# which stays the last line.
usage() {
    cat <<'USAGE'
usage: scripts/test.sh [STAGE...]   (default: every stage, in this order)
       scripts/test.sh --quick      the native suite less its slowest tests
  native    the module, kivrel, the benchmarks; the whole suite     build/native
  package   the Debian package from build/native, checked and run
  engines   the archive recipes on GNU parallel over ssh and on Slurm,  build/native
            with the servers each test starts
  asan      the suite under AddressSanitizer and UBSan (clang)       build/asan
  fuzz      each fuzz target for a bounded run (libFuzzer), from     build/asan
            the same sanitized build
  win64     the suite for Windows x86_64, run under Wine             build/win64
  win32     the Windows i686 module, built and its exports checked   build/win32
  i686      the Linux i686 module's suite under qemu-i386, on an     build/i686
            AVX2 processor model and on one with SSE2 only
USAGE
    exit "$1"
}
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
jobs=$(nproc)

all_stages=(native package engines asan fuzz win64 win32 i686)
stages=()
quick=0
for arg in "$@"; do
    case "$arg" in
        -h | --help) usage 0 ;;
        --quick) quick=1 ;;
        native | package | engines | asan | fuzz | win64 | win32 | i686) stages+=("$arg") ;;
        *) echo "unknown stage: $arg" >&2; usage 2 ;;
    esac
done
if [ $quick -eq 1 ]; then
    [ ${#stages[@]} -eq 0 ] || { echo "--quick runs the native stage alone" >&2; usage 2; }
    stages=(native)
fi
[ ${#stages[@]} -gt 0 ] || stages=("${all_stages[@]}")

# What each stage installs (scripts/deps.sh): chromium only where the
# report page's test runs.
groups=()
for stage in "${stages[@]}"; do
    case "$stage" in
        native) groups+=(cli tests page) ;;
        asan) groups+=(cli tests page fuzz) ;;
        package) groups+=(cli tests) ;;
        engines) groups+=(cli tests engines) ;;
        fuzz) groups+=(cli tests fuzz) ;;
        win64 | win32) groups+=(tests cross) ;;
        i686) groups+=(tests i686) ;;
    esac
done
scripts/deps.sh "${groups[@]}"

passed=0
failed=0
run_ctest() {  # name, build dir
    local log="$2/ctest.log" status=0
    (cd "$2" && ctest --output-on-failure "${@:3}") | tee "$log" || status=$?
    local line
    line=$(grep -E 'tests passed, [0-9]+ tests failed out of [0-9]+' "$log" | tail -n 1 || true)
    if [ -n "$line" ]; then
        local total bad
        total=$(sed -E 's/.* out of ([0-9]+).*/\1/' <<<"$line")
        bad=$(sed -E 's/.* ([0-9]+) tests failed.*/\1/' <<<"$line")
        passed=$((passed + total - bad))
        failed=$((failed + bad))
    else
        failed=$((failed + 1))
    fi
    [ $status -eq 0 ] || echo "FAILED: $1"
}

# Where ccache is installed it serves the five builds (a developer's rebuilds
# after a small change); CI's fresh machine simply compiles.
launcher=()
command -v ccache >/dev/null && launcher=(-DCMAKE_C_COMPILER_LAUNCHER=ccache -DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
configure() {  # build dir, cmake args...
    cmake -S "$root" -B "$1" -DCMAKE_BUILD_TYPE=RelWithDebInfo "${launcher[@]}" "${@:2}" >/dev/null
}

build_native() {
    configure build/native -DKIVREL_CLI=ON -DKIVREL_BENCH=ON -DKIVREL_TESTS=ON
    cmake --build build/native -j "$jobs"
}

# What --quick leaves out: the slowest tests of the native suite, each over
# 5 s on two busy cores, together about half the suite's time (their times
# are in build/native/Testing/Temporary/LastTest.log after a run; the cli
# suite holds most of the rest). The full run and CI keep them.
quick_skip=(Source.DeepSourcesRoundEveryLevelToTheNearest Outputs.EveryVideoMuxerWritesTheCardWholeOrSaysWhyNot
    Hashes.TheLineIsTheMd5OfTheWrittenPicture SourceGauge.EveryEightBitCodeValue
    Manual.HelpAndPageNameEveryValueOfEveryOption ReportSource.MeasuresMatchTheDecodedPlanes
    Levels.EveryColourIsTheSameWordThroughEveryKernel ReportMerge.BrokenReportsAreRefusedCleanly
    ReportSource.CropCoversTheRegionOnly Faults.DiskFaultsLeaveTheOldFileOrNone
    Levels.ConversionIsWithinOneLevelOfTheReference BadInput.UsageErrorsExitTwoInEveryCommand
    MonitorRun.EachParadePanelIsItsChannelsWaveformAlone)

stage_native() {
    if [ $quick -eq 1 ]; then
        echo "== native, less its ${#quick_skip[@]} slowest tests"
        build_native
        GTEST_FILTER="-$(IFS=:; echo "${quick_skip[*]}")" run_ctest native build/native -j "$jobs" -LE engines
        return
    fi
    echo "== native"
    build_native
    run_ctest native build/native -j "$jobs" -LE engines
}

stage_engines() {
    echo "== engines"
    build_native
    run_ctest engines build/native -L engines
}

check_package() {  # build dir
    local build=$1 deb scratch status=0
    rm -f "$build"/kivrel_*.deb
    (cd "$build" && cpack -G DEB >cpack.log 2>&1) || { tail -n 30 "$build/cpack.log"; return 1; }
    deb=$(ls "$build"/kivrel_*_"$(dpkg --print-architecture)".deb) || return 1
    local want got depends
    want=$(printf './usr/%s\n' bin/kivrel lib/kivrel/kivrel.so share/bash-completion/completions/kivrel \
        share/doc/kivrel/README.md share/doc/kivrel/copyright \
        share/doc/kivrel/docs/{archives.md,bad-input.md,development.md,handwritten.md,kivrel-report.slurm,performance.md,usage.md} share/man/man1/kivrel.1 \
        lib/frei0r-1/kivrel.so share/kdenlive/effects/frei0r_kivrel.xml share/doc/kivrel/docs/frei0r.md | sort)
    got=$(dpkg-deb -c "$deb" | awk '$1 !~ /^d/ {print $6}' | sort)
    [ "$got" = "$want" ] || { echo "unexpected contents:"; diff <(echo "$want") <(echo "$got"); status=1; }
    depends=$(dpkg-deb -f "$deb" Depends)
    for lib in libavformat libavcodec libswscale libavutil; do
        grep -q "${lib}[0-9]" <<<"$depends" || { echo "Depends lacks $lib: $depends"; status=1; }
    done
    # The capture devices are loaded only when asked for: recommended, not linked.
    dpkg-deb -f "$deb" Recommends | grep -q "libavdevice[0-9]" ||
        { echo "Recommends lacks libavdevice: $(dpkg-deb -f "$deb" Recommends)"; status=1; }
    # Whether apt would install it here: every dependency known and satisfiable.
    apt-get install -s -qq "./$deb" >/dev/null || { echo "apt-get cannot install $deb"; status=1; }
    scratch=$(mktemp -d)
    dpkg -x "$deb" "$scratch/root"
    mkdir "$scratch/work"
    # From a folder of its own, with the user's settings out of the way: the
    # module is found in ../lib/kivrel from the unpacked executable.
    (cd "$scratch/work" && env -u KIVREL_MODULE KIVREL_REGISTRY="$scratch/registry.reg" \
        "$scratch/root/usr/bin/kivrel" -d waveform -o wfm.png -q) || status=1
    [ "$(head -c 4 "$scratch/work/wfm.png" | od -An -c | tr -d ' ')" = "211PNG" ] ||
        { echo "the unpacked kivrel wrote no PNG"; status=1; }
    # The frei0r filter where FFmpeg looks, found by its name alone.
    FREI0R_PATH="$scratch/root/usr/lib/frei0r-1" ffmpeg -v error -f lavfi -i testsrc2=size=96x64 -frames:v 1 \
        -vf frei0r=kivrel:waveform -f null - || { echo "ffmpeg does not run the packed frei0r filter"; status=1; }
    rm -rf "$scratch"
    [ $status -eq 0 ] && echo "$(basename "$deb"): contents, Depends and a run from a scratch root as intended"
    return $status
}
stage_package() {
    echo "== Debian package: built by CPack, its contents checked, unpacked in a scratch root and run"
    build_native
    if check_package build/native; then
        passed=$((passed + 1))
    else
        failed=$((failed + 1))
        echo "FAILED: Debian package"
    fi
}

# Sweeps whose worth is in their results, which the sanitizers do not
# change; the code they drive runs under them in the smaller tests (every
# kernel in checkasm, every writer in the output and fault tests).
asan_skip=(Outputs.EveryMuxerReplacesOnlyWithYAndWritesWholeOrNothing Levels.EveryColourIsTheSameWordThroughEveryKernel
           SourceGauge.EveryEightBitCodeValue Source.DeepSourcesRoundEveryLevelToTheNearest)
# One sanitized build serves both stages: clang with AddressSanitizer, UBSan
# and the fuzzing engine's coverage, so the suite runs under the sanitizers
# and the fuzz targets link against the same objects (one compile, not two).
build_sanitized() {
    CC=clang CXX=clang++ configure build/asan -DKIVREL_SANITIZE=ON -DKIVREL_FUZZ=ON -DKIVREL_CLI=ON
    cmake --build build/asan -j "$jobs"
}

stage_asan() {
    echo "== native, AddressSanitizer + UBSan (clang; less ${#asan_skip[@]} result sweeps)"
    build_sanitized
    GTEST_FILTER="-$(IFS=:; echo "${asan_skip[*]}")" ASAN_OPTIONS=detect_leaks=1 \
        LSAN_OPTIONS="suppressions=$root/tests/lsan.supp" UBSAN_OPTIONS=print_stacktrace=1 run_ctest asan build/asan -j "$jobs"
}

# A target's bounded run, its verdict in build/asan/<target>.verdict: each
# engine is single-threaded, so the targets run as many at a time as there
# are cores.
fuzz_one() {  # target
    local target=$1 scratch
    # New finds go to a scratch folder; the committed corpus is only read.
    scratch=$(mktemp -d)
    if build/asan/fuzz/fuzz_$target -max_total_time="${KIVREL_FUZZ_SECONDS:-20}" -print_final_stats=1 \
            "$scratch" "fuzz/corpus/$target" >"build/asan/$target.log" 2>&1; then
        echo "passed fuzz_$target: $(grep -E '^stat::number_of_executed_units' "build/asan/$target.log" |
            awk '{print $2}') runs, nothing found" >"build/asan/$target.verdict"
        rm -rf "$scratch"
    else
        echo "FAILED: fuzz_$target (inputs kept in $scratch)" >"build/asan/$target.verdict"
    fi
}

stage_fuzz() {
    echo "== fuzz targets (clang, libFuzzer, AddressSanitizer + UBSan), a bounded run each, $jobs at a time"
    build_sanitized
    local targets target
    targets=$(cat build/asan/fuzz/targets.txt)
    for target in $targets; do
        fuzz_one "$target" &
        # At most $jobs engines at once.
        while [ "$(jobs -rp | wc -l)" -ge "$jobs" ]; do wait -n; done
    done
    wait
    for target in $targets; do
        if grep -q '^passed ' "build/asan/$target.verdict"; then
            passed=$((passed + 1))
            sed 's/^passed //' "build/asan/$target.verdict"
        else
            failed=$((failed + 1))
            cat "build/asan/$target.verdict"
            tail -n 30 "build/asan/$target.log"
        fi
    done
}

stage_win64() {
    echo "== Windows x86_64 under Wine"
    configure build/win64 -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-x86_64.cmake" \
        -DCMAKE_CROSSCOMPILING_EMULATOR=/usr/lib/wine/wine64
    cmake --build build/win64 -j "$jobs"
    export WINEPREFIX="${TMPDIR:-/tmp}/kivrel-wine-$$" WINEDEBUG=-all
    trap 'rm -rf "$WINEPREFIX"' EXIT
    # Wine's null display driver: windows and dialogs exist and work, nothing is
    # drawn, no X server is needed. The dialog tests run on it.
    /usr/lib/wine/wine64 reg add 'HKCU\Software\Wine\Drivers' /v Graphics /d null /f >/dev/null
    /usr/lib/wine/wineserver -w
    run_ctest win64 build/win64
}

stage_win32() {
    echo "== Windows i686 (compiled, layout asserted, exports checked)"
    configure build/win32 -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-i686.cmake"
    # The module alone: its layout asserts are in its own headers, and a
    # suite that cannot run here would only be compiled.
    cmake --build build/win32 -j "$jobs" --target kivrel
    run_ctest win32 build/win32 -R module_exports
}

stage_i686() {
    echo "== Linux i686 under qemu-i386 (the module's suite and checkasm)"
    configure build/i686 -DCMAKE_TOOLCHAIN_FILE="$root/cmake/linux-i686.cmake" \
        -DCMAKE_CROSSCOMPILING_EMULATOR=/usr/bin/qemu-i386
    cmake --build build/i686 -j "$jobs" --target kivrel kivrel_tests kivrel_checkasm
    # Each processor model with the widest level it has (qemu has no
    # AVX-512): the suite's level test and checkasm must find exactly that.
    # On the SSE2 model the checks of every level against the scalar code
    # are left out: the AVX2 model's run already compared its SSE2 level,
    # the same code on the same inputs.
    local cpu widest filter
    for cpu in max:avx2 Nehalem:sse2; do
        widest=${cpu#*:} cpu=${cpu%:*} filter='*'
        [ "$widest" = avx2 ] ||
            filter='-SimdPaths.EveryLevelMatchesTheScalarCodeOnEveryDisplay:SimdPaths.EveryColourThroughEveryDisplay:SimdPaths.StaleTablesOfAnotherDisplay'
        echo "-- qemu-i386 -cpu $cpu (widest level $widest)"
        QEMU_CPU=$cpu KIVREL_EMULATED_SIMD=$widest GTEST_FILTER=$filter \
            run_ctest "i686 -cpu $cpu" build/i686 -R '^(unit|checkasm)$' -j "$jobs"
        if check_levels_run build/i686/Testing/Temporary/LastTest.log "$widest"; then
            passed=$((passed + 1))
        else
            failed=$((failed + 1))
            echo "FAILED: i686 -cpu $cpu: checkasm's levels"
        fi
    done
}

# Whether checkasm's output (in ctest's log of the last run) shows every
# level up to `widest` run and none past it.
check_levels_run() {  # log, widest level
    local level ran=() status=0 reached=1
    for level in scalar sse2 avx2 avx512; do
        if grep -Eq "[[:space:]]$level +ok$" "$1"; then
            ran+=("$level")
            [ $reached -eq 1 ] || { echo "checkasm ran $level, past $2"; status=1; }
        elif [ $reached -eq 1 ]; then
            echo "checkasm did not run $level"
            status=1
        fi
        [ "$level" != "$2" ] || reached=0
    done
    echo "checkasm levels: ${ran[*]}"
    return $status
}

seconds=()
for stage in "${stages[@]}"; do
    start=$(date +%s)
    "stage_$stage"
    seconds+=("$stage $(($(date +%s) - start))")
done

echo
# The load is part of the reading: the machines are often shared.
echo "wall time per stage (load average $(cut -d ' ' -f 1-3 /proc/loadavg) at the end):"
printf '  %-8s %5s s\n' $(printf '%s\n' "${seconds[@]}")
echo "summary: $passed passed, $failed failed"
[ "$failed" -eq 0 ]
