# The data-folder parsers (options file, tree file, store records) on arbitrary bytes.
add_executable(bookmarkfiles_fuzz ${CMAKE_CURRENT_LIST_DIR}/bookmarkfiles_fuzz.cpp)
target_compile_options(bookmarkfiles_fuzz PRIVATE -fsanitize=fuzzer,address,undefined)
target_link_options(bookmarkfiles_fuzz PRIVATE -fsanitize=fuzzer,address,undefined)
target_link_libraries(bookmarkfiles_fuzz PRIVATE narrabel_core)
