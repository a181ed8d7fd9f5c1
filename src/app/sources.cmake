# Sources of src/app: program start, the owner of the windows, the main window,
# the media controls.
if(NOT NARRABEL_CORE_ONLY)
    target_sources(narrabel_gui PRIVATE
        src/app/application.cpp src/app/application.h
        src/app/desktop.cpp
        src/app/mpris.cpp src/app/mpris.h
        src/app/program.cpp src/app/program.h
        src/app/tfrmmain.cpp src/app/tfrmmain.h
        src/app/treeview.cpp
    )
endif()
