# Bash completion for kivrel: commands, options, display names and the
# values of the settings, file names elsewhere. Installed as
# share/bash-completion/completions/kivrel, where bash-completion loads it
# the first time kivrel is completed.

# shellcheck disable=SC2207  # compgen prints one candidate a line, as COMPREPLY takes them
_kivrel_displays="histograms hotpixel video waveform vectorscope"

# Options, by the commands that take them: each command's own list, as its
# --help gives it (kivrel report refuses what writes frames).
_kivrel_settings_options="-d --display --channels --system --matrix --range --gamma --no-gamma --grid
    --no-grid --accumulate --no-accumulate --passthru --no-passthru --change --max-ire --module"
_kivrel_render_options="$_kivrel_settings_options -o --output -f -c:v -c -codec:v -vcodec -pix_fmt
    -pix_fmt:v -threads -an -sn -dn --null --verify -y --overwrite -n --no-overwrite -ss -t -to -frames
    -frames:v -vframes -start_number --skip-errors --keep-partial --input-matrix --input-range --field-order
    -noautorotate --card-size --script --print-config --layout --picture-size --crop --labels
    --pad-pitch -q --quiet -loglevel -v --verbose -h --help --version -i -pixel_format -s -video_size -r
    -framerate"
_kivrel_report_options="-o --output -y --overwrite --max-hot --range-rule --rule --luma-range --rgb-range
    --area --crop -f --fail-on -j --jobs --merge --files0-from --resume -ss -t -to
    -frames -start_number -threads --skip-errors --input-matrix --input-range --field-order -noautorotate --system
    --matrix --range --gamma --max-ire --script --module --help -i -pix_fmt -s -r"

# Completes the last item of a comma-separated list in $cur from the words
# given, leaving out those the list already holds.
_kivrel_list() {
    local head="" last=$cur word
    if [[ $cur == *,* ]]; then
        head=${cur%,*},
        last=${cur##*,}
    fi
    local -a fresh=()
    for word in "$@"; do
        [[ ",$head" == *",$word,"* ]] || fresh+=("$word")
    done
    local IFS=$'\n'
    COMPREPLY=($(compgen -P "$head" -W "${fresh[*]}" -- "$last"))
    # A list goes on after a comma: no space yet.
    [[ ${#COMPREPLY[@]} -gt 0 ]] && type compopt &>/dev/null && compopt -o nospace 2>/dev/null
    return 0
}

_kivrel_files() {  # [extension]
    if declare -F _filedir &>/dev/null; then
        _filedir "$@"
    else
        local IFS=$'\n'
        COMPREPLY=($(compgen -f -- "$cur"))
        type compopt &>/dev/null && compopt -o filenames 2>/dev/null
    fi
}

# The value of option $1, or 1 when it takes none.
_kivrel_value() {
    case $1 in
    -d | --display)
        # The picture itself is a display too, alone or as a tile of a list.
        # shellcheck disable=SC2086  # one argument per name
        _kivrel_list $_kivrel_displays passthru picture
        ;;
    --channels) [[ $cur == *,* ]] && _kivrel_list luma red green blue ||
        COMPREPLY=($(compgen -W "luma red green blue all none" -- "$cur")) ;;
    --fail-on) _kivrel_list hot range damaged ;;
    --system) COMPREPLY=($(compgen -W "ntsc pal" -- "$cur")) ;;
    --matrix) COMPREPLY=($(compgen -W "601 709 auto" -- "$cur")) ;;
    --range) COMPREPLY=($(compgen -W "0-255 16-235 auto" -- "$cur")) ;;
    --input-matrix) COMPREPLY=($(compgen -W "601 709 2020" -- "$cur")) ;;
    --input-range) COMPREPLY=($(compgen -W "tv pc" -- "$cur")) ;;
    --field-order) COMPREPLY=($(compgen -W "progressive tff bff" -- "$cur")) ;;
    --change) COMPREPLY=($(compgen -W "black intensity saturation" -- "$cur")) ;;
    --layout) COMPREPLY=($(compgen -W "row column grid" -- "$cur")) ;;
    --range-rule) COMPREPLY=($(compgen -W "on studio off" -- "$cur")) ;;
    --rule) COMPREPLY=($(compgen -W "strict r103" -- "$cur")) ;;
    --input-format) COMPREPLY=($(compgen -W "v4l2 x11grab mpegts" -- "$cur")) ;;  # the usual live ones
    -f) COMPREPLY=($(compgen -W "image sequence video null md5 nut matroska mp4 avi mov" -- "$cur")) ;;
    -loglevel | -v)
        COMPREPLY=($(compgen -W "quiet panic fatal error warning info verbose debug trace" -- "$cur")) ;;
    -o | --output | --verify | --script | -i | --files0-from) _kivrel_files ;;
    --module) _kivrel_files so ;;
    -c:v | -c | -codec:v | -vcodec | -pix_fmt | -pix_fmt:v | -threads | -ss | -t | -to | -frames | -frames:v | \
        -vframes | -start_number | -pixel_format | -s | -video_size | -r | -framerate | \
        --max-ire | --pad-pitch | --card-size | --picture-size | --crop | --max-hot | -j | --jobs | \
        --luma-range | --rgb-range | --area)
        COMPREPLY=() ;;  # a number, a time, a size or a name: nothing to offer
    *) return 1 ;;
    esac
    return 0
}

_kivrel() {
    local cur prev words cword split=false
    if declare -F _init_completion &>/dev/null; then
        # -s: "--range=1" completes the value; -n : keeps "-c:v" one word.
        _init_completion -s -n : || return
    else
        cur=${COMP_WORDS[COMP_CWORD]}
        prev=${COMP_WORDS[COMP_CWORD - 1]}
        words=("${COMP_WORDS[@]}")
        cword=$COMP_CWORD
        # Bash makes "=" a word of its own: "--range=1" is --range, =, 1.
        if [[ $cur == = ]]; then
            cur="" split=true
        elif [[ $prev == = && $cword -gt 1 ]]; then
            prev=${words[cword - 2]} split=true
        elif [[ $cur == --*=* ]]; then
            prev=${cur%%=*} cur=${cur#*=} split=true
        fi
    fi

    # Switches take on or off only after "=": "--grid on" would make "on" the input.
    if $split; then
        case $prev in
        --gamma | --grid | --accumulate | --passthru | --labels)
            COMPREPLY=($(compgen -W "on off" -- "$cur"))
            return ;;
        esac
    fi
    _kivrel_value "$prev" && return

    local command="" i
    if [[ $cword -gt 1 ]]; then
        case ${words[1]} in report | defaults | configure | play) command=${words[1]} ;; esac
    fi
    # The store commands take no file; the others take inputs, also after "--".
    local files=true
    case $command in defaults | configure) files=false ;; esac
    for ((i = 1; i < cword; i++)); do
        if [[ ${words[i]} == -- ]]; then
            $files && _kivrel_files
            return
        fi
    done

    if [[ $cur == -* ]]; then
        local options=$_kivrel_render_options
        case $command in
        report) options=$_kivrel_report_options ;;
        play) options="$_kivrel_render_options --paused --presented-md5 --input-format" ;;
        defaults) options=$_kivrel_settings_options ;;
        configure) options="--module" ;;
        esac
        COMPREPLY=($(compgen -W "$options" -- "$cur"))
        declare -F __ltrim_colon_completions &>/dev/null && __ltrim_colon_completions "$cur"
        return
    fi
    $files && _kivrel_files
    if [[ $cword -eq 1 ]]; then
        COMPREPLY+=($(compgen -W "report defaults configure play" -- "$cur"))
    fi
} &&
    complete -F _kivrel kivrel
