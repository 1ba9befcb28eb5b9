#!/usr/bin/env bash
# cmake --install of a built tree into a scratch prefix: exactly the files
# meant for users arrive, the manifest lists just them, and kivrel run from
# another folder finds its module under the prefix and renders as the build
# folder's kivrel does.
# usage: install_test.sh CMAKE BUILD_DIR [SANITIZED]
set -euo pipefail
cmake=$1
build=$2
sanitized=${3:-0}  # 1: a sanitized filter, which no unsanitized host can load
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
prefix=$scratch/prefix

"$cmake" --install "$build" --prefix "$prefix" >/dev/null
want=$(printf '%s\n' bin/kivrel lib/kivrel/kivrel.so share/man/man1/kivrel.1 \
    share/bash-completion/completions/kivrel share/doc/kivrel/README.md share/doc/kivrel/copyright \
    share/doc/kivrel/docs/{archives.md,bad-input.md,development.md,handwritten.md,kivrel-report.slurm,performance.md,usage.md})
# The frei0r filter, where the build has it: under the name the hosts look for.
if [ -e "$build/kivrel-frei0r.so" ]; then
    want=$(printf '%s\n' "$want" lib/frei0r-1/kivrel.so share/kdenlive/effects/frei0r_kivrel.xml \
        share/doc/kivrel/docs/frei0r.md)
fi
want=$(echo "$want" | sort)
got=$(cd "$prefix" && find . -type f -o -type l | sed 's|^\./||' | sort)
listed=$(sed "s|^$prefix/||" "$build/install_manifest.txt" | sort)
status=0
if [ "$got" != "$want" ]; then
    echo "FAILED: installed files differ from the intended ones:"
    diff <(echo "$want") <(echo "$got") || true
    status=1
fi
if [ "$listed" != "$want" ]; then
    echo "FAILED: install_manifest.txt differs from the intended files:"
    diff <(echo "$want") <(echo "$listed") || true
    status=1
fi

# From elsewhere, with the user's own settings out of the way.
mkdir "$scratch/work"
cd "$scratch/work"
export KIVREL_REGISTRY=$scratch/registry.reg
unset KIVREL_MODULE
"$prefix/bin/kivrel" -d waveform --no-passthru -o wfm.png -q
"$build/kivrel" -d waveform --no-passthru -o reference.png -q
if ! cmp -s wfm.png reference.png; then
    echo "FAILED: the installed kivrel renders the waveform differently from the build's"
    status=1
fi
if [ -e "$build/kivrel-frei0r.so" ] && [ "$sanitized" != 1 ]; then
    # FFmpeg finds the installed filter by its name alone.
    if ! FREI0R_PATH=$prefix/lib/frei0r-1 ffmpeg -v error -f lavfi -i testsrc2=size=96x64 -frames:v 1 \
        -vf frei0r=kivrel:vectorscope -f null - 2>"$scratch/ffmpeg.err"; then
        echo "FAILED: ffmpeg does not run the installed frei0r filter:"; cat "$scratch/ffmpeg.err"
        status=1
    fi
fi
if command -v man >/dev/null && [ "$(MANPATH=$prefix/share/man man -w kivrel)" != "$prefix/share/man/man1/kivrel.1" ]; then
    echo "FAILED: man does not find the installed page"
    status=1
fi
[ $status -ne 0 ] || echo "installed as intended, and runs from $prefix/bin"
exit $status
