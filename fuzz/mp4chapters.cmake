# libFuzzer target for the MP4 chapter reader (clang only; the core is
# instrumented by id3v2.cmake).
if(CMAKE_CXX_COMPILER_ID MATCHES "Clang")
    add_executable(mp4chapters_fuzz ${CMAKE_CURRENT_SOURCE_DIR}/mp4chapters_fuzz.cpp)
    target_compile_options(mp4chapters_fuzz PRIVATE -fsanitize=fuzzer,address,undefined -fno-omit-frame-pointer)
    target_link_options(mp4chapters_fuzz PRIVATE -fsanitize=fuzzer,address,undefined)
    target_link_libraries(mp4chapters_fuzz PRIVATE narrabel_core)
endif()
