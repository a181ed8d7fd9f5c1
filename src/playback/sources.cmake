# Sources of src/playback.
target_sources(narrabel_core PRIVATE
    src/playback/bmhistory.cpp
    src/playback/optionsfile.cpp
)
if(NOT NARRABEL_CORE_ONLY)
    target_sources(narrabel_gui PRIVATE
        src/playback/playbackcontrol.cpp
        src/playback/resumepoint.cpp
        src/playback/speed.cpp
        src/playback/historynav.cpp
        src/playback/volumecontrol.cpp
        src/playback/keyboard.cpp
        src/playback/mainoptions.cpp
        src/playback/mediaplayer.cpp
        src/playback/audiomixer.cpp
        src/playback/tfrmoptions.cpp
    )
endif()
