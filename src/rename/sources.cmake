# Sources of src/rename.
target_sources(narrabel_core PRIVATE
    src/rename/composename.cpp src/rename/composename.h
    src/rename/massrename.cpp src/rename/massrename.h
    src/rename/renamer.cpp src/rename/renamer.h
)
if(NOT NARRABEL_CORE_ONLY)
    target_sources(narrabel_gui PRIVATE
        src/rename/tfrmpreview.cpp src/rename/tfrmpreview.h
        src/rename/tfrmrename.cpp src/rename/tfrmrename.h
    )
endif()
