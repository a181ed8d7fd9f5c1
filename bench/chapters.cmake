# Chapters: reading a long M4B's chapter list, and a list of 5,000 chapters
# kept current while a book plays (needs a sound server and ffmpeg).
find_package(benchmark QUIET)
if(benchmark_FOUND)
    add_executable(chapters_bench ${CMAKE_CURRENT_SOURCE_DIR}/chapters_bench.cpp)
    target_link_libraries(chapters_bench PRIVATE narrabel_gui benchmark::benchmark)
endif()
