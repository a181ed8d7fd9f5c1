# Sources of src/tags.
target_sources(narrabel_core PRIVATE
    src/tags/fillrules.cpp
)
if(NOT NARRABEL_CORE_ONLY)
    target_sources(narrabel_gui PRIVATE
        src/tags/tfrmedit.cpp
        src/tags/tfrmfill.cpp
    )
endif()
