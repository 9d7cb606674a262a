# Sourced: xvfb_start starts Xvfb on the first free display and exports DISPLAY and XVFB_PID.
# Several runs may start at once (parallel build trees): a server that lost the race for a
# display number exits, and the next number is tried.
xvfb_start() {
    local n=99
    while [ $n -lt 199 ]; do
        if [ -e "/tmp/.X${n}-lock" ] || [ -e "/tmp/.X11-unix/X${n}" ]; then
            n=$((n + 1))
            continue
        fi
        Xvfb ":$n" -screen 0 1920x1080x24 -nolisten tcp >/dev/null 2>&1 &
        XVFB_PID=$!
        local i=0
        while [ $i -lt 100 ] && kill -0 "$XVFB_PID" 2>/dev/null; do
            if [ -e "/tmp/.X11-unix/X${n}" ] && [ "$(cat "/tmp/.X${n}-lock" 2>/dev/null | tr -d ' ')" = "$XVFB_PID" ]; then
                export DISPLAY=":$n" XVFB_PID
                return 0
            fi
            sleep 0.1
            i=$((i + 1))
        done
        kill "$XVFB_PID" 2>/dev/null || true
        n=$((n + 1))
    done
    echo "Xvfb could not be started" >&2
    return 1
}
