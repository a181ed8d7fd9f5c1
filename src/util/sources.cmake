target_sources(narrabel_core PRIVATE
    src/util/qorext.cpp
    src/util/options.cpp
    src/util/journal.cpp
)
if(NOT NARRABEL_CORE_ONLY)
    target_sources(narrabel_gui PRIVATE src/util/shellopen.cpp)
endif()
