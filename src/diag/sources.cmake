# Sources of src/diag.
if(NOT NARRABEL_CORE_ONLY)
    target_sources(narrabel_gui PRIVATE
        src/diag/tfrmabout.cpp src/diag/tfrmabout.h
        src/diag/tfrmdebug.cpp src/diag/tfrmdebug.h
    )
endif()
