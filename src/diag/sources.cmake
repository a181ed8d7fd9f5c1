# Sources of src/diag.
if(NOT NARRABEL_CORE_ONLY)
    target_sources(narrabel_gui PRIVATE
        src/diag/tfrmabout.cpp
        src/diag/tfrmdebug.cpp
    )
endif()
