# Sources of src/rename.
target_sources(narrabel_core PRIVATE
    src/rename/composename.cpp
    src/rename/massrename.cpp
)
if(NOT NARRABEL_CORE_ONLY)
    target_sources(narrabel_gui PRIVATE
        src/rename/tfrmrename.cpp
        src/rename/tfrmpreview.cpp
    )
endif()
