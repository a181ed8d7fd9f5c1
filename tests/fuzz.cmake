# Runs the ID3v2 fuzz target that test.sh builds in build-fuzz (with clang) for a
# bounded time, seeded with the peer corpus; skipped when it was not built. A
# finding exits 1 (libFuzzer's own default, 77, is CTest's "skipped" here).
# Registered in the main build only (the sanitizer build's tests run from it too).
if(NARRABEL_MAIN_TREE)
set(ID3V2_FUZZ_BIN ${CMAKE_SOURCE_DIR}/build-fuzz/fuzz/id3v2_fuzz)
set(ID3V2_FUZZ_CORPUS ${CMAKE_BINARY_DIR}/fuzz-corpus/id3v2)
set(PEERS ${CMAKE_SOURCE_DIR}/../shared/peers)
add_test(NAME fuzz.id3v2
    COMMAND sh -c "[ -x '${ID3V2_FUZZ_BIN}' ] || exit 77; mkdir -p '${ID3V2_FUZZ_CORPUS}' && exec '${ID3V2_FUZZ_BIN}' -max_total_time=60 -max_len=131072 -error_exitcode=1 -timeout_exitcode=1 -timeout=20 -rss_limit_mb=2048 -print_final_stats=1 '${ID3V2_FUZZ_CORPUS}' '${PEERS}/taglib' '${PEERS}/mutagen' '${PEERS}/other/id3lib' '${PEERS}/other/rust-id3' '${PEERS}/other/music-metadata'")
set_tests_properties(fuzz.id3v2 PROPERTIES TIMEOUT 300 LABELS fuzz SKIP_RETURN_CODE 77)
# The bookmark-files target the same way, seeded with a few data files.
set(BOOKMARKFILES_FUZZ_BIN ${CMAKE_SOURCE_DIR}/build-fuzz/fuzz/bookmarkfiles_fuzz)
set(BOOKMARKFILES_FUZZ_CORPUS ${CMAKE_BINARY_DIR}/fuzz-corpus/bookmarkfiles)
add_test(NAME fuzz.bookmarkfiles
    COMMAND sh -c "[ -x '${BOOKMARKFILES_FUZZ_BIN}' ] || exit 77; mkdir -p '${BOOKMARKFILES_FUZZ_CORPUS}' && exec '${BOOKMARKFILES_FUZZ_BIN}' -max_total_time=30 -max_len=16384 -error_exitcode=1 -timeout_exitcode=1 -timeout=20 -rss_limit_mb=2048 -print_final_stats=1 '${BOOKMARKFILES_FUZZ_CORPUS}' '${CMAKE_CURRENT_SOURCE_DIR}/data/bookmarkfiles'")
set_tests_properties(fuzz.bookmarkfiles PROPERTIES TIMEOUT 300 LABELS fuzz SKIP_RETURN_CODE 77)
endif()
