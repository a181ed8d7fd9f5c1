# narrabel-tag: read and write the tag record from scripts (core library only).
add_executable(narrabel-tag ${CMAKE_CURRENT_SOURCE_DIR}/narrabel_tag.cpp)
target_link_libraries(narrabel-tag PRIVATE narrabel_core)
install(TARGETS narrabel-tag RUNTIME DESTINATION bin)
