# libFuzzer target for the ID3v2 library (clang only).
if(CMAKE_CXX_COMPILER_ID MATCHES "Clang")
    # The core is instrumented the same way so coverage reaches into it.
    target_compile_options(narrabel_core PRIVATE -fsanitize=fuzzer-no-link,address,undefined
        -fno-omit-frame-pointer)
    target_link_options(narrabel_core INTERFACE -fsanitize=address,undefined)
    add_executable(id3v2_fuzz ${CMAKE_CURRENT_SOURCE_DIR}/id3v2_fuzz.cpp)
    target_compile_options(id3v2_fuzz PRIVATE -fsanitize=fuzzer,address,undefined -fno-omit-frame-pointer)
    target_link_options(id3v2_fuzz PRIVATE -fsanitize=fuzzer,address,undefined)
    target_link_libraries(id3v2_fuzz PRIVATE narrabel_core)
endif()
