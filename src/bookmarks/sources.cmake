# Sources of src/bookmarks.
target_sources(narrabel_core PRIVATE
    src/bookmarks/bookmark.cpp src/bookmarks/bookmark.h
    src/bookmarks/bookmarkcommands.cpp src/bookmarks/bookmarkcommands.h
    src/bookmarks/bookmarktree.cpp src/bookmarks/bookmarktree.h
    src/bookmarks/storejournal.cpp src/bookmarks/storejournal.h
    src/bookmarks/treefile.cpp src/bookmarks/treefile.h
)
if(NOT NARRABEL_CORE_ONLY)
    target_sources(narrabel_gui PRIVATE
        src/bookmarks/tfrmbm.cpp src/bookmarks/tfrmbm.h
        src/bookmarks/tfrmimport.cpp src/bookmarks/tfrmimport.h
        src/bookmarks/tfrmmissing.cpp src/bookmarks/tfrmmissing.h
    )
endif()
