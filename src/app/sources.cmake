# Sources of src/app.
if(NOT NARRABEL_CORE_ONLY)
    target_sources(narrabel_gui PRIVATE
        src/app/application.cpp
        src/app/desktop.cpp
        src/app/dialogs.cpp
        src/app/mpris.cpp
        src/app/tfrmmain.cpp
        src/app/widgets.cpp
    )
endif()
