# Player device figures: CPU use while playing a 64 kbit/s MP3, Position error
# after random jumps in VBR files, frame-count speed. Needs a sound server.
add_executable(sound_bench ${CMAKE_CURRENT_SOURCE_DIR}/sound_bench.cpp)
target_include_directories(sound_bench PRIVATE ${CMAKE_SOURCE_DIR}/tests/gui)
target_link_libraries(sound_bench PRIVATE narrabel_gui)
