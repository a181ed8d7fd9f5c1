# Sources of src/tags/id3v2.
target_sources(narrabel_core PRIVATE
    src/tags/id3v2/frameindex.cpp
    src/tags/id3v2/id3v2.cpp src/tags/id3v2/id3v2.h
    src/tags/id3v2/id3v2internal.h
    src/tags/id3v2/id3v2save.cpp
    src/tags/id3v2/savejournal.cpp src/tags/id3v2/savejournal.h
)
