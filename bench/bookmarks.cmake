# Bookmark store, index and tree file at library scale (100,000 records/nodes).
find_package(benchmark REQUIRED)
add_executable(bookmarks_bench ${CMAKE_CURRENT_LIST_DIR}/bookmarks_bench.cpp)
target_link_libraries(bookmarks_bench PRIVATE narrabel_core benchmark::benchmark)
