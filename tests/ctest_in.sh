#!/usr/bin/env bash
# Runs CTest in a sibling build tree (sanitizer build) with the given CTest
# options (-L label, -R/-E names); skipped when that tree was not built
# (test.sh builds it).
dir=$1
shift
[ -f "$dir/CTestTestfile.cmake" ] || { echo "no build in $dir; skipped"; exit 77; }
exec ctest --test-dir "$dir" --output-on-failure "$@"
