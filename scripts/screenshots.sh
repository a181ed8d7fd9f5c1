#!/usr/bin/env bash
# Regenerates the README's screenshots in docs/screenshots/ from freshly made
# sample books, on a virtual display (xvfb-run), with a private data folder.
set -euo pipefail
NARRABEL_ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
. "$NARRABEL_ROOT/scripts/common.sh"
ensure_packages build run test shots

cmake -S "$NARRABEL_ROOT" -B "$NARRABEL_ROOT/build" -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$NARRABEL_ROOT/build" -j"$(jobs_count)" --target narrabel-shots

tmp=$(mktemp -d /tmp/shots.XXXXXX)
trap 'rm -rf "$tmp"' EXIT
mkdir -p "$tmp/home"
/usr/bin/python3 "$NARRABEL_ROOT/scripts/sample-books.py" "$tmp/home/Audio Books"
# The sound server of the session plays the few seconds that move the bars.
env -u DBUS_SESSION_BUS_ADDRESS -u QT_QPA_PLATFORM HOME="$tmp/home" \
    XDG_CONFIG_HOME="$tmp/home/.config" XDG_DATA_HOME="$tmp/home/.local/share" \
    xvfb-run -a -s "-screen 0 1100x680x24" \
    "$NARRABEL_ROOT/build/tools/narrabel-shots" "$tmp/home/Audio Books" "$NARRABEL_ROOT/docs/screenshots"
