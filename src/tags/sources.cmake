# Sources of src/tags.
target_sources(narrabel_core PRIVATE
    src/tags/fillrules.cpp
    src/tags/mp3.cpp
)
if(NOT NARRABEL_CORE_ONLY)
    target_sources(narrabel_gui PRIVATE
        src/tags/tfrmedit.cpp
        src/tags/tfrmfill.cpp
        src/tags/writetag.cpp
    )
endif()
