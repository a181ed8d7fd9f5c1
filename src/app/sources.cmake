# Sources of src/app: program start, the owner of the windows, the main window,
# the media controls.
if(NOT NARRABEL_CORE_ONLY)
    # The media controls drive the listening session on the session bus, as a
    # command-line tool could: no widgets.
    target_sources(narrabel_mpris PRIVATE src/app/mpris.cpp src/app/mpris.h)
    target_sources(narrabel_gui PRIVATE
        src/app/application.cpp src/app/application.h
        src/app/coverpanel.cpp
        src/app/chapterside.cpp
        src/app/desktop.cpp
        src/app/filedrop.cpp src/app/filedrop.h
        src/app/instance.cpp src/app/instance.h
        src/app/program.cpp src/app/program.h
        src/app/tfrmmain.cpp src/app/tfrmmain.h
        src/app/treeview.cpp
    )
endif()
