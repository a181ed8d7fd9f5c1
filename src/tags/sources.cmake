# Sources of src/tags.
target_sources(narrabel_core PRIVATE
    src/tags/filetag.h
    src/tags/filetags.cpp src/tags/filetags.h
    src/tags/fillrules.cpp src/tags/fillrules.h
    src/tags/mp3.cpp src/tags/mp3.h
    src/tags/tagformat.cpp src/tags/tagformat.h
    src/tags/taglibtags.cpp src/tags/taglibtags.h
    src/tags/tageditor.cpp src/tags/tageditor.h
    src/tags/writetag.cpp src/tags/writetag.h
)
if(NOT NARRABEL_CORE_ONLY)
    target_sources(narrabel_gui PRIVATE
        src/tags/tfrmedit.cpp src/tags/tfrmedit.h
        src/tags/tfrmfill.cpp src/tags/tfrmfill.h
    )
endif()
