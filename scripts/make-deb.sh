#!/usr/bin/env bash
# Builds Narrabel (Release) into build-deb/ and makes the Debian package there:
#   ./scripts/make-deb.sh && sudo apt install ./build-deb/narrabel_*.deb
set -euo pipefail
NARRABEL_ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
. "$NARRABEL_ROOT/scripts/common.sh"
ensure_packages build run package
configure_and_build build-deb -DCMAKE_BUILD_TYPE=Release -DNARRABEL_TESTS=OFF -DNARRABEL_BENCH=OFF
(cd "$NARRABEL_ROOT/build-deb" && cpack -G DEB)
ls "$NARRABEL_ROOT"/build-deb/narrabel_*.deb
