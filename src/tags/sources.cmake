# Sources of src/tags.
target_sources(narrabel_core PRIVATE
    src/tags/fillrules.cpp src/tags/fillrules.h
    src/tags/mp3.cpp src/tags/mp3.h
    src/tags/tageditor.cpp src/tags/tageditor.h
    src/tags/writetag.cpp src/tags/writetag.h
)
if(NOT NARRABEL_CORE_ONLY)
    target_sources(narrabel_gui PRIVATE
        src/tags/tfrmedit.cpp src/tags/tfrmedit.h
        src/tags/tfrmfill.cpp src/tags/tfrmfill.h
    )
endif()
