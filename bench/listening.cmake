# Listening through a book: the gap between files when one plays on into the
# next (needs a sound server), and the cost of saving the places file.
add_executable(listening_bench ${CMAKE_CURRENT_SOURCE_DIR}/listening_bench.cpp)
target_include_directories(listening_bench PRIVATE ${CMAKE_SOURCE_DIR}/tests/gui)
target_link_libraries(listening_bench PRIVATE narrabel_sound)
