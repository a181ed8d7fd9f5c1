# Sources of src/ui: building blocks the windows share, and the real dialogs.
if(NOT NARRABEL_CORE_ONLY)
    target_sources(narrabel_gui PRIVATE
        src/ui/coverview.cpp src/ui/coverview.h
        src/ui/qtdialogs.cpp src/ui/qtdialogs.h
        src/ui/widgets.cpp src/ui/widgets.h
    )
endif()
