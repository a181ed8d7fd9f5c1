#!/usr/bin/env bash
# Runs CTest in a sibling build tree (sanitizer build); skipped when that tree
# was not built (test.sh builds it).
dir=$1
[ -f "$dir/CTestTestfile.cmake" ] || { echo "no build in $dir; skipped"; exit 77; }
exec ctest --test-dir "$dir" --output-on-failure
