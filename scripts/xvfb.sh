# Sourced: xvfb_start starts Xvfb on the first free display and exports DISPLAY and XVFB_PID.
xvfb_start() {
    local n=99
    while [ -e "/tmp/.X${n}-lock" ] || [ -e "/tmp/.X11-unix/X${n}" ]; do n=$((n + 1)); done
    Xvfb ":$n" -screen 0 1920x1080x24 -nolisten tcp >/dev/null 2>&1 &
    XVFB_PID=$!
    local i=0
    while [ ! -e "/tmp/.X11-unix/X${n}" ] && [ $i -lt 100 ]; do sleep 0.1; i=$((i + 1)); done
    if [ ! -e "/tmp/.X11-unix/X${n}" ]; then
        echo "Xvfb did not start on :$n" >&2
        return 1
    fi
    export DISPLAY=":$n" XVFB_PID
}
