# Sources of src/playback.
target_sources(narrabel_core PRIVATE
    src/playback/bmhistory.cpp src/playback/bmhistory.h
    src/playback/bookcover.cpp src/playback/bookcover.h
    src/playback/bookorder.cpp src/playback/bookorder.h
    src/playback/books.cpp src/playback/books.h
    src/playback/chapternav.cpp src/playback/chapternav.h
    src/playback/chapters.cpp src/playback/chapters.h
    src/playback/clocktext.cpp src/playback/clocktext.h
    src/playback/listeningsettings.cpp src/playback/listeningsettings.h
    src/playback/mp4chapters.cpp src/playback/mp4chapters.h
    src/playback/optionsfile.cpp src/playback/optionsfile.h
    src/playback/places.cpp src/playback/places.h
    src/playback/playerdevice.h
    src/playback/session.cpp src/playback/session.h
    src/playback/sessionchapters.cpp
    src/playback/sleeptimer.cpp src/playback/sleeptimer.h
)
if(NOT NARRABEL_CORE_ONLY)
    target_sources(narrabel_sound PRIVATE
        src/playback/audiomixer.cpp src/playback/audiomixer.h
        src/playback/boostlimiter.cpp src/playback/boostlimiter.h
        src/playback/mediaplayer.cpp src/playback/mediaplayer.h
        src/playback/pipelines.cpp src/playback/pipelines.h
    )
    target_sources(narrabel_gui PRIVATE
        src/playback/chapterlist.cpp src/playback/chapterlist.h
        src/playback/tfrmoptions.cpp src/playback/tfrmoptions.h
    )
endif()
