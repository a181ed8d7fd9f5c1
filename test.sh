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
cleanup() {
    if [ -n "${XDG_RUNTIME_DIR:-}" ] && [ -d "$XDG_RUNTIME_DIR" ]; then
        pulseaudio --kill >/dev/null 2>&1 || true
    fi
    rm -rf "$tmp"
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
