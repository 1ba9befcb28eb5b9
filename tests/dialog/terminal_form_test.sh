#!/bin/sh
# The terminal form as a person meets it: the probe opens the module's
# dialog in a tmux pane of a given size, keys go in with send-keys, and the
# screen comes back with capture-pane. The probe's own output (result and
# script line) goes to a file: the form must use the terminal, not stdout.
# With KIVREL, `kivrel configure` is driven the same way.
# usage: terminal_form_test.sh PROBE MODULE [KIVREL]
set -u
probe=$1
module=$2
kivrel=${3:-}
work=$(mktemp -d)
# OK saves the defaults: into a store of this test's own, emptied before each case.
export KIVREL_REGISTRY="$work/registry.reg"
command="'$probe' '$module'"
sock="kivrel-form-$$"
failures=0
trap 'tmux -L "$sock" kill-server 2>/dev/null; rm -rf "$work"' EXIT

fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

# start COLS ROWS: runs the command in a fresh pane of that size.
start() {
    tmux -L "$sock" kill-server 2>/dev/null
    rm -f "$work/out" "$work/done" "$work/status"
    [ -d "$KIVREL_REGISTRY" ] || rm -f "$KIVREL_REGISTRY"
    # A busy machine now and then loses a starting server: try again.
    for _ in 1 2 3; do
        tmux -L "$sock" -f /dev/null new-session -d -x "$1" -y "$2" \
            "TERM=screen KIVREL_REGISTRY='$KIVREL_REGISTRY' $command >'$work/out' 2>&1; echo \$? >'$work/status';
             touch '$work/done'; sleep 30" && break
        sleep 1
    done
}
# ended: waits (at most 10 s) for the command to end.
ended() { for _ in $(seq 100); do [ -e "$work/done" ] && break; sleep 0.1; done; }
# ends COLS ROWS: runs the command in such a pane to its end.
ends() {
    start "$1" "$2"
    ended
}
# open COLS ROWS [TEXT]: starts the probe in a fresh pane and waits for the
# form (its caption, or TEXT) to show.
open() {
    start "$1" "$2"
    for _ in $(seq 100); do
        screen | grep -qF "${3:-Filter: Kivrel}" && return 0
        [ -e "$work/done" ] && break
        sleep 0.1
    done
    fail "the form did not open in $1x$2"; screen; cat "$work/out" 2>/dev/null
    return 1
}
screen() { tmux -L "$sock" capture-pane -p -t 0; }
# The keys go in as one write, as a fast typist's would: the form must take
# them in order however they arrive, and what they change is waited for by
# shows, not by pauses between them.
keys() { tmux -L "$sock" send-keys -t 0 "$@"; }
# finish EXPECTED-OUTPUT: waits for the probe and compares what it printed.
finish() {
    ended
    if [ "$(cat "$work/out")" != "$1" ]; then
        fail "expected '$1', got '$(cat "$work/out")'"
    fi
    screen | grep -q "Accumulate" && fail "the form is still on the screen after it ended"
}
# shows TEXT...: every text comes on the screen within 10 s.
shows() {
    for _ in $(seq 100); do
        s=$(screen) missing=""
        for t in "$@"; do
            printf '%s' "$s" | grep -qF -- "$t" || { missing=$t; break; }
        done
        [ -z "$missing" ] && return 0
        sleep 0.1
    done
    fail "'$missing' is not on the screen"
    printf '%s\n' "$s"
}

# 80x24: the whole form at once, every control's text, start states of the defaults.
open 80 24 && {
    shows "Passthru" "Source Attributes" "[x] Gamma Corrected" "(*) Std Def (601)" "( ) High Def (709)" \
        "(*) 0-255" "( ) 16-235" "(*) NTSC" "( ) PAL" "Channels" "[x] Red" "[x] Green" "[x] Blue" \
        "[x] Luma" "View" "( ) Video" "( ) Vectorscope" "( ) Wave Form Monitor" "[x] Show Grid" \
        "(*) Histograms" "[ ] Accumulate across frames" "( ) Hot Pixel Scan" "Change:" "To Black" \
        "Max IRE:" "110" "< OK >" "< Cancel >"
    # Accumulate on (on OK); six stops on is the display group, where Down
    # picks "Hot Pixel Scan" at once; Enter is OK.
    keys Space Tab Tab Tab Tab Tab Tab Down
    shows "[x] Accumulate across frames" "(*) Hot Pixel Scan" "( ) Histograms"
    keys Enter
    finish "result 0
Config(1, 0, 1, 1, 1, 1, 1, 1, 1, 1, 1, 0, 1)"
}

# The same changes, then Escape: the display changed at once stays, the box does not.
open 80 24 && {
    keys Space Tab Tab Tab Tab Tab Tab Down Escape
    finish "result 1
Config(1, 0, 0, 1, 1, 1, 1, 1, 1, 1, 1, 0, 1)"
}

# Lists and the disabled box: Shift-Tab from the first stop wraps to the last
# ones; arrows change the lists; Gamma is never reached.
open 80 24 && {
    keys BTab Space BTab BTab Up BTab Down Down
    shows "[x] Passthru" "Saturation" "100"
    keys Enter
    finish "result 0
Config(0, 1, 0, 1, 1, 1, 1, 1, 1, 1, 1, 2, 1)"
}

# A small terminal: the form scrolls to the focused control.
open 60 12 "Accumulate across frames" && {
    keys BTab
    shows "Passthru"
    keys Escape
    finish "result 1
Config(0, 0, 0, 1, 1, 1, 1, 1, 1, 1, 1, 0, 1)"
}

# kivrel configure: the module's own dialog through the exports; OK saves the
# defaults the next run starts from, Escape leaves the store alone.
if [ -n "$kivrel" ]; then
    command="'$kivrel' configure --module '$module'"
    open 80 24 && {
        keys Space Tab Tab Tab Tab Tab Tab Down Enter
        ended
        [ "$(cat "$work/status")" = 0 ] || fail "configure, OK: status $(cat "$work/status")"
        next=$("$kivrel" --module "$module" --print-config)
        [ "$next" = "Kivrel [1.5] (Hot Pixel < IRE 110 Change to black>)
Config(1, 0, 1, 1, 1, 1, 1, 1, 1, 1, 1, 0, 1)" ] || fail "configure, OK: the next run has $next"
    }
    open 80 24 && {
        keys Space Tab Tab Tab Tab Tab Tab Down Escape
        ended
        [ "$(cat "$work/status")" = 1 ] || fail "configure, Escape: status $(cat "$work/status")"
        [ -e "$KIVREL_REGISTRY" ] && fail "configure, Escape: the store was written"
    }
    command="'$probe' '$module'"
fi

# The least terminal, read off the whole form at 80x24: its width, and the
# height of its tallest group box (top "+- Name" line to the "+" under it).
open 80 24 && {
    least=$(screen | awk '
        { line[NR] = $0 }
        END {
            for (r = 1; r <= NR; r++) {
                c = index(line[r], "+- ")
                if (c == 0) continue
                if (w == 0) { s = line[r]; sub(/ +$/, "", s); w = length(s) - c + 1; continue }
                for (k = r + 1; k <= NR && substr(line[k], c, 1) != "+"; k++) {}
                if (k - r + 1 > h) h = k - r + 1
            }
            print w "x" h
        }')
    keys Escape
    finish "result 1
Config(0, 0, 0, 1, 1, 1, 1, 1, 1, 1, 1, 0, 1)"
}
cols=${least%x*}
rows=${least#*x}

# Below it the form does not open (configProc gives -2); at it, every
# control can be reached, the focused one's group whole in view.
for size in "$((cols - 1)) $rows" "$cols $((rows - 1))"; do
    ends $size
    [ "$(head -n 1 "$work/out")" = "result -2" ] || fail "the form opened in ${size% *}x${size#* }: $(cat "$work/out")"
done
open "$cols" "$rows" "View" && {
    keys Tab Tab Tab Tab Tab Tab
    shows "View" "( ) Video" "( ) Vectorscope" "( ) Wave Form Monitor" "(*) Histograms" "( ) Hot Pixel Scan" \
        "Change:" "Max IRE:"
    keys Down
    shows "(*) Hot Pixel Scan"
    keys Escape
    finish "result 1
Config(1, 0, 0, 1, 1, 1, 1, 1, 1, 1, 1, 0, 1)"
}

if [ -n "$kivrel" ]; then
    command="'$kivrel' configure --module '$module'"
    # Too small: one line with both sizes, status 4, the store untouched.
    ends 30 8
    [ "$(cat "$work/status")" = 4 ] || fail "configure in 30x8: status $(cat "$work/status")"
    [ "$(cat "$work/out")" = "kivrel: the terminal is 30x8; the configuration form needs at least $least" ] ||
        fail "configure in 30x8: $(cat "$work/out")"
    [ -e "$KIVREL_REGISTRY" ] && fail "configure in 30x8: the store was written"

    # A store that cannot be read or written: said before the form, and OK says why the save failed.
    own=$KIVREL_REGISTRY
    for case in "folder:Is a directory" "plain/registry.reg:Not a directory"; do
        store="$work/${case%%:*}"
        why=${case#*:}
        rm -rf "$work/folder" "$work/plain"
        mkdir "$work/folder"
        echo plain >"$work/plain"
        KIVREL_REGISTRY=$store
        warning="kivrel: the settings store $store could not be read ($why); using the factory defaults
"
        [ "$store" = "$work/folder" ] || warning=""
        open 80 24 && {
            keys Enter
            ended
            [ "$(cat "$work/status")" = 1 ] || fail "configure, OK into $store: status $(cat "$work/status")"
            [ "$(cat "$work/out")" = "${warning}kivrel: could not save the defaults to $store ($why)" ] ||
                fail "configure, OK into $store: $(cat "$work/out")"
        }
    done
    KIVREL_REGISTRY=$own
    rm -rf "$work/folder" "$work/plain"
    command="'$probe' '$module'"
fi

# No controlling terminal: configProc fails with -1 and nothing changes.
out=$(setsid -w "$probe" "$module" </dev/null 2>&1)
[ "$out" = "result -1
Config(0, 0, 0, 1, 1, 1, 1, 1, 1, 1, 1, 0, 1)" ] || fail "without a terminal: $out"

[ $failures -eq 0 ] && echo "terminal form: all passed"
exit $failures
