# Sources of src/util: helpers every layer may use (QtCore only).
target_sources(narrabel_core PRIVATE
    src/util/appstate.cpp src/util/appstate.h
    src/util/dialogs.cpp src/util/dialogs.h
    src/util/errors.h
    src/util/journal.cpp src/util/journal.h
    src/util/options.cpp src/util/options.h
    src/util/qorext.cpp src/util/qorext.h
)
