# TagLib as a peer of the ID3v2 library: a test program linked to Debian's libtag.
pkg_check_modules(TAGLIB IMPORTED_TARGET taglib)
if(TAGLIB_FOUND)
    add_executable(id3v2_taglib_peer_test ${CMAKE_CURRENT_SOURCE_DIR}/peers/id3v2_taglib_peer_test.cpp)
    target_include_directories(id3v2_taglib_peer_test PRIVATE ${CMAKE_CURRENT_SOURCE_DIR})
    target_link_libraries(id3v2_taglib_peer_test PRIVATE narrabel_testsupport GTest::gtest_main
        PkgConfig::TAGLIB)
    add_test(NAME core.id3v2_taglib_peer_test COMMAND id3v2_taglib_peer_test)
    set_tests_properties(core.id3v2_taglib_peer_test PROPERTIES TIMEOUT 600 LABELS core)
endif()
