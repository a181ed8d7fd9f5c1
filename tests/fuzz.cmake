# Runs the fuzz targets that test.sh builds in build-fuzz (with clang) for a
# bounded time, each seeded with its own folders; skipped when not built. A
# finding exits 1 (libFuzzer's own default, 77, is CTest's "skipped" here).
# Registered in the main build only (the sanitizer build's tests run from it too).
if(NARRABEL_MAIN_TREE)
# fuzz.NAME runs build-fuzz/fuzz/NAME_fuzz for SECONDS on inputs of up to
# MAX_LEN bytes, its corpus kept in this tree, seeded with the folders after.
function(narrabel_fuzz_test name seconds max_len)
    set(bin ${CMAKE_SOURCE_DIR}/build-fuzz/fuzz/${name}_fuzz)
    set(corpus ${CMAKE_BINARY_DIR}/fuzz-corpus/${name})
    set(seeds "")
    foreach(seed ${ARGN})
        string(APPEND seeds " '${seed}'")
    endforeach()
    add_test(NAME fuzz.${name}
        COMMAND sh -c "[ -x '${bin}' ] || exit 77; mkdir -p '${corpus}' && exec '${bin}' -max_total_time=${seconds} -max_len=${max_len} -error_exitcode=1 -timeout_exitcode=1 -timeout=20 -rss_limit_mb=2048 -print_final_stats=1 '${corpus}'${seeds}")
    set_tests_properties(fuzz.${name} PROPERTIES TIMEOUT 300 LABELS fuzz SKIP_RETURN_CODE 77)
endfunction()

set(PEERS ${CMAKE_SOURCE_DIR}/../shared/peers)
narrabel_fuzz_test(id3v2 60 131072 ${PEERS}/taglib ${PEERS}/mutagen ${PEERS}/other/id3lib
    ${PEERS}/other/rust-id3 ${PEERS}/other/music-metadata)
# The bookmark files, seeded with a few data files.
narrabel_fuzz_test(bookmarkfiles 30 16384 ${CMAKE_CURRENT_SOURCE_DIR}/data/bookmarkfiles)
# The tag facade over every format, seeded with short books of each (made by
# ffmpeg and mutagen the first time) and the ID3v2 peers.
set(TAG_SEEDS ${CMAKE_BINARY_DIR}/fuzz-seeds/tags)
narrabel_fuzz_test(tags 45 65536 ${TAG_SEEDS} ${PEERS}/mutagen)
set_property(TEST fuzz.tags PROPERTY FIXTURES_REQUIRED tag_seeds)
add_test(NAME fuzz.tags_seeds
    COMMAND sh -c "[ -x '${CMAKE_SOURCE_DIR}/build-fuzz/fuzz/tags_fuzz' ] || exit 77; [ -f '${TAG_SEEDS}/mp3-latin.mp3' ] || /usr/bin/python3 '${CMAKE_CURRENT_SOURCE_DIR}/data/tags/formats_peer.py' make '${TAG_SEEDS}' >/dev/null")
set_tests_properties(fuzz.tags_seeds PROPERTIES TIMEOUT 300 LABELS fuzz SKIP_RETURN_CODE 77
    FIXTURES_SETUP tag_seeds)
# The MP4 chapter reader, seeded with the chapter test files (made by ffmpeg
# and mutagen the first time).
set(CHAPTER_SEEDS ${CMAKE_BINARY_DIR}/fuzz-seeds/chapters)
narrabel_fuzz_test(mp4chapters 30 65536 ${CHAPTER_SEEDS})
set_property(TEST fuzz.mp4chapters PROPERTY FIXTURES_REQUIRED chapter_seeds)
add_test(NAME fuzz.mp4chapters_seeds
    COMMAND sh -c "[ -x '${CMAKE_SOURCE_DIR}/build-fuzz/fuzz/mp4chapters_fuzz' ] || exit 77; [ -f '${CHAPTER_SEEDS}/both.m4b' ] || { mkdir -p '${CHAPTER_SEEDS}' && /usr/bin/python3 '${CMAKE_CURRENT_SOURCE_DIR}/data/chapters/make_chapter_files.py' '${CHAPTER_SEEDS}'; }")
set_tests_properties(fuzz.mp4chapters_seeds PROPERTIES TIMEOUT 300 LABELS fuzz SKIP_RETURN_CODE 77
    FIXTURES_SETUP chapter_seeds)
endif()
