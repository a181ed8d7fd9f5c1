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

# One test more than cores: the sound tests spend most of their time waiting
# on sound played in real time.
"$NARRABEL_ROOT/scripts/with-test-sink.sh" \
    ctest --test-dir "$NARRABEL_ROOT/build" --output-on-failure -j"$(($(jobs_count) + 1))"
