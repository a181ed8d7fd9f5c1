# libFuzzer target for the tag facade over every format (clang only; the core
# is instrumented by id3v2.cmake).
if(CMAKE_CXX_COMPILER_ID MATCHES "Clang")
    add_executable(tags_fuzz ${CMAKE_CURRENT_SOURCE_DIR}/tags_fuzz.cpp)
    target_compile_options(tags_fuzz PRIVATE -fsanitize=fuzzer,address,undefined -fno-omit-frame-pointer)
    target_link_options(tags_fuzz PRIVATE -fsanitize=fuzzer,address,undefined)
    target_link_libraries(tags_fuzz PRIVATE narrabel_core)
endif()
