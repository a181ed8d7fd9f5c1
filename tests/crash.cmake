# The crash test: each write operation is killed before each of its write-like
# calls in turn, or has that write cut short, and the start-up recovery must
# then leave every file whole (old or new). The preload library cannot go in
# front of the sanitizers' runtime, so the test runs in the plain trees only.
if(NOT NARRABEL_CORE_ONLY AND NOT NARRABEL_SANITIZE)
    add_library(writefault SHARED ${CMAKE_CURRENT_SOURCE_DIR}/crash/writefault.c)
    set_target_properties(writefault PROPERTIES AUTOMOC OFF)
    target_link_libraries(writefault PRIVATE ${CMAKE_DL_LIBS})
    add_executable(crashdriver ${CMAKE_CURRENT_SOURCE_DIR}/crash/crashdriver.cpp)
    target_link_libraries(crashdriver PRIVATE narrabel_core ${CMAKE_DL_LIBS})
    add_test(NAME crash.writes
        COMMAND /usr/bin/python3 ${CMAKE_CURRENT_SOURCE_DIR}/crash/crash_test.py
            --driver $<TARGET_FILE:crashdriver> --preload $<TARGET_FILE:writefault>
            --tool $<TARGET_FILE:narrabel-tag> --work ${CMAKE_CURRENT_BINARY_DIR}/crash-work)
    set_tests_properties(crash.writes PROPERTIES TIMEOUT 900 LABELS crash)
endif()
