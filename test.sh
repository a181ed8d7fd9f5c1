#!/usr/bin/env bash
# Installs what is missing (test tools too), builds, starts a private PulseAudio
# server with a null sink, and runs every test with CTest.
set -euo pipefail
NARRABEL_ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
. "$NARRABEL_ROOT/scripts/common.sh"

ensure_packages build run test

configure_and_build build -DCMAKE_BUILD_TYPE=Release -DNARRABEL_TESTS=ON -DNARRABEL_BENCH=ON
# The core and the windows again under AddressSanitizer and UndefinedBehaviorSanitizer
# (their tests run from the main tree's CTest run).
configure_and_build build-asan -DCMAKE_BUILD_TYPE=Debug -DNARRABEL_CORE_ONLY=OFF \
    -DNARRABEL_SANITIZE=ON -DNARRABEL_BENCH=OFF
# libFuzzer targets, when clang is here.
if command -v clang++ >/dev/null 2>&1; then
    configure_and_build build-fuzz -DCMAKE_BUILD_TYPE=RelWithDebInfo -DNARRABEL_CORE_ONLY=ON \
        -DNARRABEL_FUZZ=ON -DNARRABEL_TESTS=OFF -DNARRABEL_BENCH=OFF \
        -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++
fi

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
ctest --test-dir "$NARRABEL_ROOT/build" --output-on-failure -j"$(jobs_count)" || status=$?
exit $status
