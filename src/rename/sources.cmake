# Sources of src/rename.
if(NOT NARRABEL_CORE_ONLY)
    target_sources(narrabel_gui PRIVATE
        src/rename/tfrmrename.cpp
        src/rename/tfrmpreview.cpp
    )
endif()
