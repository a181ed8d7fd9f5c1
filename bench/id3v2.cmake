# ID3v2 library speed against TagLib and a plain file copy, and narrabel-tag on
# hostile tags (not part of ctest).
find_package(benchmark QUIET)
pkg_check_modules(TAGLIB_BENCH IMPORTED_TARGET taglib)
if(benchmark_FOUND AND TAGLIB_BENCH_FOUND)
    add_executable(id3v2_bench ${CMAKE_CURRENT_SOURCE_DIR}/id3v2_bench.cpp)
    # The byte builders are shared with the ID3v2 tests.
    target_include_directories(id3v2_bench PRIVATE ${CMAKE_SOURCE_DIR}/tests/core)
    target_link_libraries(id3v2_bench PRIVATE narrabel_core benchmark::benchmark PkgConfig::TAGLIB_BENCH)
    target_compile_definitions(id3v2_bench PRIVATE NARRABEL_TAG_TOOL="$<TARGET_FILE:narrabel-tag>")
    add_dependencies(id3v2_bench narrabel-tag)
endif()
