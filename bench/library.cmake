# The main window at library scale: import, rebuild, tree load, Browse and Go.
add_executable(library_bench ${CMAKE_CURRENT_LIST_DIR}/library_bench.cpp)
target_link_libraries(library_bench PRIVATE narrabel_gui)
