# The tag facade over mixed formats against MP3 alone (not part of ctest).
find_package(benchmark QUIET)
if(benchmark_FOUND)
    add_executable(tags_bench ${CMAKE_CURRENT_SOURCE_DIR}/tags_bench.cpp)
    target_link_libraries(tags_bench PRIVATE narrabel_core benchmark::benchmark)
endif()
