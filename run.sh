#!/usr/bin/env bash
# Installs what is missing, builds Narrabel (Release) into build/ and starts it:
#   ./run.sh [file [seek-ms [seconds]]]
set -euo pipefail
NARRABEL_ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
. "$NARRABEL_ROOT/scripts/common.sh"

ensure_packages build run
configure_and_build build -DCMAKE_BUILD_TYPE=Release -DNARRABEL_TESTS=OFF -DNARRABEL_BENCH=OFF

if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ] && [ -z "${QT_QPA_PLATFORM:-}" ]; then
    echo "Narrabel needs a display: none is set (DISPLAY, WAYLAND_DISPLAY); on a headless machine use: xvfb-run ./run.sh $*" >&2
    exit 2
fi
exec "$NARRABEL_ROOT/build/narrabel" "$@"
