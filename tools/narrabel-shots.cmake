# narrabel-shots: the README's screenshots (scripts/screenshots.sh builds and runs it).
add_executable(narrabel-shots EXCLUDE_FROM_ALL ${CMAKE_CURRENT_SOURCE_DIR}/narrabel_shots.cpp)
target_link_libraries(narrabel-shots PRIVATE narrabel_gui)
