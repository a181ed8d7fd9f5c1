# Installing into a temporary prefix, checked with the desktop's validators.
if(NOT NARRABEL_CORE_ONLY)
    add_test(NAME install.desktop
        COMMAND ${CMAKE_CURRENT_SOURCE_DIR}/install_check.sh ${CMAKE_BINARY_DIR})
    set_tests_properties(install.desktop PROPERTIES TIMEOUT 300 LABELS install SKIP_RETURN_CODE 77)
endif()
