# The cost of journals and syncs: bookmark writes, tag saves, an import (not part of ctest).
find_package(benchmark QUIET)
if(benchmark_FOUND)
    add_executable(durability_bench ${CMAKE_CURRENT_SOURCE_DIR}/durability_bench.cpp)
    target_link_libraries(durability_bench PRIVATE narrabel_core benchmark::benchmark)
endif()
