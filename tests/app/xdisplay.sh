# Sourced by the window-manager tests: a display of their own and openbox on it.

# Xvfb on a display number it picks itself, so that two sessions started at
# once never share one; exports DISPLAY, the server's pid in $xvfb.
start_xvfb() {
    local number
    number=$(mktemp)
    Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp 3>"$number" >/dev/null 2>&1 &
    xvfb=$!
    # The number is written once the server takes connections.
    for _ in $(seq 1200); do [ -s "$number" ] && break; sleep 0.05; done
    DISPLAY=":$(head -n 1 "$number")"
    rm -f "$number"
    [ "$DISPLAY" != ":" ] || { echo "Xvfb did not start"; return 1; }
    export DISPLAY
}

# openbox (a minute at most on a busy machine), ready once it has claimed the screen and says what it supports:
# xdotool refuses to activate a window until _NET_ACTIVE_WINDOW is among
# them. Once more if it ended at the start; what it said if it never came.
# Its pid in $wm.
start_openbox() {
    local log attempt
    log=$(mktemp)
    for attempt in 1 2; do
        openbox --sm-disable >"$log" 2>&1 &
        wm=$!
        for _ in $(seq 1200); do
            kill -0 "$wm" 2>/dev/null || break
            if xprop -root _NET_SUPPORTING_WM_CHECK 2>/dev/null | grep -q 'window id' &&
                xprop -root _NET_SUPPORTED 2>/dev/null | grep -q '_NET_ACTIVE_WINDOW'; then
                rm -f "$log"
                return 0
            fi
            sleep 0.05
        done
        kill "$wm" 2>/dev/null || true
    done
    echo "openbox did not start (attempt $attempt):"
    cat "$log"
    rm -f "$log"
    return 1
}
