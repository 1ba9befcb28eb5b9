#!/usr/bin/env bash
# The bash completion of kivrel, driven as bash drives it: COMP_WORDS and
# COMP_CWORD set as bash splits the line, the function called, COMPREPLY
# read back; with bash-completion's own framework loaded, as where it is
# installed.
# usage: completion_test.sh KIVREL COMPLETION_SCRIPT
set -u
kivrel=$(realpath "$1")
completion=$(realpath "$2")
framework=/usr/share/bash-completion/bash_completion
if [ ! -r "$framework" ]; then
    echo "skipped: bash-completion is not installed (scripts/deps.sh installs it)"
    exit 77
fi
# shellcheck source=/dev/null
source "$framework"
# shellcheck source=/dev/null
source "$2"

scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
cd "$scratch" || exit 1
mkdir sub
touch clip.mkv job.vcf other.so

failed=0
# The candidates for LINE, typed up to the cursor at its end, sorted, one
# per line. The words are split as bash splits them: at blanks, and with
# "=" and ":" words of their own.
candidates() {
    local line=$1 word
    COMP_WORDS=()
    for word in $line; do
        while [[ $word =~ ^([^=:]*)([=:])(.*)$ ]]; do
            [ -n "${BASH_REMATCH[1]}" ] && COMP_WORDS+=("${BASH_REMATCH[1]}")
            COMP_WORDS+=("${BASH_REMATCH[2]}")
            word=${BASH_REMATCH[3]}
        done
        [ -n "$word" ] && COMP_WORDS+=("$word")
    done
    [[ $line == *" " ]] && COMP_WORDS+=("")
    COMP_CWORD=$((${#COMP_WORDS[@]} - 1))
    COMP_LINE=$line
    COMP_POINT=${#line}
    COMPREPLY=()
    _kivrel kivrel "${COMP_WORDS[COMP_CWORD]}" "${COMP_WORDS[COMP_CWORD - 1]}" 2>/dev/null
    printf '%s\n' "${COMPREPLY[@]}" | LC_ALL=C sort -u | grep -v '^$'
}
# expect WANTED LINE: exactly WANTED (space-separated) is offered.
expect() {
    local want got
    want=$(tr ' ' '\n' <<<"$1" | LC_ALL=C sort -u | grep -v '^$')
    got=$(candidates "$2")
    if [ "$want" != "$got" ]; then
        echo "FAILED: completing '$2': wanted [${want//$'\n'/ }], got [${got//$'\n'/ }]"
        failed=$((failed + 1))
    fi
}
# offers WANTED LINE: at least WANTED is offered.
offers() {
    local got missing=""
    got=$(candidates "$2")
    for w in $1; do grep -qxF -- "$w" <<<"$got" || missing+=" $w"; done
    if [ -n "$missing" ]; then
        echo "FAILED: completing '$2' does not offer:$missing"
        failed=$((failed + 1))
    fi
}

# Commands and files in the first place, files for inputs after.
expect "clip.mkv configure defaults job.vcf other.so play report sub" "kivrel "
expect "report" "kivrel re"
expect "clip.mkv" "kivrel report -q cl"
expect "" "kivrel defaults "
# Display names, alone and in a list of tiles.
expect "histograms hotpixel video waveform vectorscope passthru picture" "kivrel -d "
expect "video,waveform" "kivrel --display video,wa"
expect "video,passthru video,picture" "kivrel -d video,p"
expect "luma,blue" "kivrel --channels luma,b"
# Values of the settings, also after "=" (bash makes it a word of its own).
expect "column grid row" "kivrel --layout "
expect "0-255 16-235 auto" "kivrel --range="
expect "on off" "kivrel --grid="
expect "black intensity saturation" "kivrel x.mkv --change "
expect "on studio off" "kivrel report a.mkv --range-rule "
# Every word kivrel takes for a setting, as it lists them for a wrong one,
# wherever the option is in this build.
for option in --display --change --system --matrix --range --input-matrix --input-range --layout --range-rule; do
    for command in "" report; do
        words=$("$kivrel" $command "$option" bogus 2>&1 >/dev/null |
            sed -nE 's/.* is not one of ([^(]*[^ (]).*$/\1/p' | sed 's/, / /g')
        if [ -n "$words" ]; then
            offers "$words" "kivrel $command $option "
            break
        fi
    done
done
# A list never offers what it already holds.
expect "hot,range hot,damaged" "kivrel report a.mkv --fail-on hot,"
expect "hot,range,damaged" "kivrel report a.mkv --fail-on hot,range,"
expect "" "kivrel report a.mkv --fail-on hot,range,damaged,"
expect "" "kivrel -d waveform,video,w"
expect "waveform,video waveform,vectorscope" "kivrel -d waveform,v"
expect "luma,red,blue" "kivrel --channels=luma,red,b"
offers "image sequence video null md5 nut matroska mp4" "kivrel -f "
expect "" "kivrel -ss "
# Files where a file goes; the module only among libraries.
expect "clip.mkv" "kivrel -o cl"
expect "job.vcf" "kivrel --script j"
expect "other.so sub" "kivrel --module "
expect "clip.mkv" "kivrel -- cl"
# Options for each command.
expect "--max-ire" "kivrel --max"
expect "--max-hot --max-ire" "kivrel report --max"
expect "" "kivrel defaults --o"
expect "--module" "kivrel configure --"
offers "-c:v -codec:v" "kivrel -c"
expect "v" "kivrel -c:"
offers "-frames:v -pix_fmt:v" "kivrel -"
expect "" "kivrel report --pr"
expect "--jobs" "kivrel report --j"
expect "--passthru" "kivrel defaults --p"
# Values after "=", for every kind of value.
expect "quiet panic fatal error warning info verbose debug trace" "kivrel -loglevel "
expect "hot range damaged" "kivrel report a.mkv --fail-on="
expect "video vectorscope" "kivrel --display=v"
expect "tv pc" "kivrel --input-range="

# Without bash-completion's framework bash still makes "=" a word: values follow it too.
for case in "--range = |0-255 16-235 auto" "--layout = co|column" "--grid = |on off"; do
    # shellcheck disable=SC2016  # expanded by the inner shell
    got=$(bash -c 'source "$1"; read -ra COMP_WORDS <<<"kivrel $2"; [[ $2 == *" " ]] && COMP_WORDS+=("");
        COMP_CWORD=$((${#COMP_WORDS[@]} - 1)); _kivrel; echo "${COMPREPLY[*]}"' _ "$completion" "${case%|*}")
    [ "$got" = "${case#*|}" ] || { echo "FAILED: without the framework, 'kivrel ${case%|*}' gives [$got]"; failed=$((failed + 1)); }
done
# Each command offers exactly the options its help lists (the report's help
# names the render options it shares; defaults takes the settings).
options_in() {
    grep -oE '(^|[[:space:](\[,|=])--?[a-z][a-z0-9_]*([-:][a-z0-9_]+)*' | sed -E 's/^[^-]//' | LC_ALL=C sort -u
}
listed=$("$kivrel" --help | options_in)
[ "$(wc -l <<<"$listed")" -gt 30 ] || { echo "FAILED: too few options read from kivrel --help"; failed=$((failed + 1)); }
# The viewer's own options (its section of the help) are the play command's only.
viewer=$("$kivrel" --help | sed -n '/^Play (kivrel play/,/^$/p' | grep -E '^ +-' | options_in)
[ -n "$viewer" ] || { echo "FAILED: no viewer options read from kivrel --help"; failed=$((failed + 1)); }
expect "$(comm -23 <(echo "$listed") <(echo "$viewer"))" "kivrel -"
expect "$listed" "kivrel play -"
expect "$("$kivrel" report --help | options_in)" "kivrel report -"
export KIVREL_REGISTRY=$scratch/registry.reg  # a setting offered here is saved there
for option in $(candidates "kivrel defaults -"); do
    "$kivrel" defaults "$option" 2>&1 | grep -q "unknown option\|takes settings options only" &&
        { echo "FAILED: kivrel defaults offers $option, which it refuses"; failed=$((failed + 1)); }
done

if [ "$failed" -ne 0 ]; then
    echo "$failed completion checks failed"
    exit 1
fi
echo "all completion checks passed"
