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

# open COLS ROWS [TEXT]: starts the probe in a fresh pane and waits for the
# form (its caption, or TEXT) to show.
open() {
    tmux -L "$sock" kill-server 2>/dev/null
    rm -f "$work/out" "$work/done" "$KIVREL_REGISTRY"
    # A busy machine now and then loses a starting server: try again.
    for _ in 1 2 3; do
        tmux -L "$sock" -f /dev/null new-session -d -x "$1" -y "$2" \
            "TERM=screen KIVREL_REGISTRY='$KIVREL_REGISTRY' $command >'$work/out' 2>&1; echo \$? >'$work/status';
             touch '$work/done'; sleep 30" && break
        sleep 1
    done
    for _ in $(seq 100); do
        screen | grep -qF "${3:-Filter: Kivrel}" && return 0
        [ -e "$work/done" ] && break
        sleep 0.1
    done
    fail "the form did not open in $1x$2"; screen; cat "$work/out" 2>/dev/null
    return 1
}
screen() { tmux -L "$sock" capture-pane -p -t 0; }
keys() { for k in "$@"; do tmux -L "$sock" send-keys -t 0 "$k"; sleep 0.05; done; }
# finish EXPECTED-OUTPUT: waits for the probe and compares what it printed.
finish() {
    for _ in $(seq 100); do [ -e "$work/done" ] && break; sleep 0.1; done
    if [ "$(cat "$work/out")" != "$1" ]; then
        fail "expected '$1', got '$(cat "$work/out")'"
    fi
    screen | grep -q "Accumulate" && fail "the form is still on the screen after it ended"
}
shows() {  # every text must be on the screen
    s=$(screen)
    for t in "$@"; do
        printf '%s' "$s" | grep -qF -- "$t" || { fail "'$t' is not on the screen"; printf '%s\n' "$s"; }
    done
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
        for _ in $(seq 100); do [ -e "$work/done" ] && break; sleep 0.1; done
        [ "$(cat "$work/status")" = 0 ] || fail "configure, OK: status $(cat "$work/status")"
        next=$("$kivrel" --module "$module" --print-config)
        [ "$next" = "Kivrel [1.5] (Hot Pixel < IRE 110 Change to black>)
Config(1, 0, 1, 1, 1, 1, 1, 1, 1, 1, 1, 0, 1)" ] || fail "configure, OK: the next run has $next"
    }
    open 80 24 && {
        keys Space Tab Tab Tab Tab Tab Tab Down Escape
        for _ in $(seq 100); do [ -e "$work/done" ] && break; sleep 0.1; done
        [ "$(cat "$work/status")" = 1 ] || fail "configure, Escape: status $(cat "$work/status")"
        [ -e "$KIVREL_REGISTRY" ] && fail "configure, Escape: the store was written"
    }
    command="'$probe' '$module'"
fi

# No controlling terminal: configProc fails with -1 and nothing changes.
out=$(setsid -w "$probe" "$module" </dev/null 2>&1)
[ "$out" = "result -1
Config(0, 0, 0, 1, 1, 1, 1, 1, 1, 1, 1, 0, 1)" ] || fail "without a terminal: $out"

[ $failures -eq 0 ] && echo "terminal form: all passed"
exit $failures
