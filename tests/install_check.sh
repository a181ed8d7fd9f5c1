#!/usr/bin/env bash
# Installs the build into a temporary prefix and checks what the desktop sees:
# the programs, the menu entry, the icon and the AppStream data, each through
# its validator when that is installed (./test.sh installs both).
set -uo pipefail
build=$1
prefix=$(mktemp -d /tmp/narrabel-install.XXXXXX)
trap 'rm -rf "$prefix"' EXIT
cmake --install "$build" --prefix "$prefix" >/dev/null || { echo "cmake --install failed"; exit 1; }

status=0
for f in bin/narrabel bin/narrabel-tag share/applications/narrabel.desktop \
    share/icons/hicolor/scalable/apps/narrabel.svg share/metainfo/org.narrabel.Narrabel.metainfo.xml; do
    [ -s "$prefix/$f" ] || { echo "not installed: $f"; status=1; }
done

validated=0
if command -v desktop-file-validate >/dev/null; then
    desktop-file-validate "$prefix/share/applications/narrabel.desktop" || status=1
    validated=$((validated + 1))
else
    echo "desktop-file-validate is not installed (package desktop-file-utils): skipped"
fi
if command -v appstreamcli >/dev/null; then
    appstreamcli validate --no-net "$prefix/share/metainfo/org.narrabel.Narrabel.metainfo.xml" || status=1
    validated=$((validated + 1))
else
    echo "appstreamcli is not installed (package appstream): skipped"
fi
[ $status -eq 0 ] && [ $validated -eq 0 ] && exit 77
exit $status
