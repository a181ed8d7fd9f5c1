# Includes point only downward through the layers, and no files include each
# other in a circle.
find_program(PYTHON3 python3 REQUIRED)
add_test(NAME structure.layering
    COMMAND ${PYTHON3} ${CMAKE_CURRENT_SOURCE_DIR}/layering_check.py ${CMAKE_SOURCE_DIR} --report)
set_tests_properties(structure.layering PROPERTIES TIMEOUT 60 LABELS structure)
