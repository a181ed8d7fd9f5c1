#!/usr/bin/env bash
# Runs a command (CTest, one test program, a benchmark) as the tests run it: a
# private home and runtime folder under /tmp, no desktop session, offscreen Qt
# and a private PulseAudio server with a null sink; all of it is removed after.
#   scripts/with-test-sink.sh ctest --test-dir build -R player
set -euo pipefail
tmp=$(mktemp -d /tmp/narrabel-test.XXXXXX)
# Processes started under the private home (HOME is set below).
# (Builtins only: a helper command started here would find itself.)
processes_in_tmp() {
    local env vars
    for env in /proc/[0-9]*/environ; do
        mapfile -d "" vars 2>/dev/null <"$env" || continue
        [[ " ${vars[*]} " == *" HOME=$tmp/home "* ]] || continue
        env=${env#/proc/}
        echo "${env%/environ}"
    done
}
# Removing the private home must not fail the run: tests have reported already.
cleanup() {
    local status=$? pid left
    set +e
    if [ -n "${XDG_RUNTIME_DIR:-}" ] && [ -d "$XDG_RUNTIME_DIR" ]; then
        # --kill only signals; the server still writes under $tmp while it stops.
        pid=$(cat "$XDG_RUNTIME_DIR/pulse/pid" 2>/dev/null)
        pulseaudio --kill >/dev/null 2>&1
        for _ in $(seq 1 50); do
            [ -n "$pid" ] && kill -0 "$pid" 2>/dev/null || break
            sleep 0.1
        done
    fi
    left=$(processes_in_tmp)
    if [ -n "$left" ]; then
        echo "Still running under the test home, stopped now:"
        ps -o pid=,args= -p "$(echo $left | tr ' ' ,)"
        kill $left 2>/dev/null
        sleep 1
        kill -9 $(processes_in_tmp) 2>/dev/null
    fi
    for _ in 1 2 3 4 5; do
        rm -rf "$tmp" 2>/dev/null && break
        sleep 1
    done
    [ -d "$tmp" ] && echo "Left behind (still in use): $tmp"
    exit $status
}
trap cleanup EXIT

export HOME="$tmp/home" XDG_RUNTIME_DIR="$tmp/runtime"
export XDG_CONFIG_HOME="$HOME/.config" XDG_DATA_HOME="$HOME/.local/share" XDG_CACHE_HOME="$HOME/.cache"
mkdir -p "$HOME" && mkdir -m 0700 -p "$XDG_RUNTIME_DIR"
unset PULSE_SERVER DISPLAY WAYLAND_DISPLAY DBUS_SESSION_BUS_ADDRESS
export QT_QPA_PLATFORM=offscreen

pulseaudio --daemonize=yes --exit-idle-time=-1 -n \
    -L "module-null-sink sink_name=narrabel_test" -L module-native-protocol-unix \
    >"$tmp/pulse.log" 2>&1 || { echo "PulseAudio failed to start:"; cat "$tmp/pulse.log"; }
for _ in $(seq 1 50); do pactl info >/dev/null 2>&1 && break; sleep 0.1; done
pactl info >/dev/null 2>&1 && echo "PulseAudio null sink ready." || echo "PulseAudio is not answering; sound tests will fail."

status=0
"$@" || status=$?
exit $status
