# Sources of src/bookmarks.
target_sources(narrabel_core PRIVATE
    src/bookmarks/bookmark.cpp
    src/bookmarks/storejournal.cpp
    src/bookmarks/treefile.cpp
)
if(NOT NARRABEL_CORE_ONLY)
    target_sources(narrabel_gui PRIVATE
        src/bookmarks/bookmarkcommands.cpp
        src/bookmarks/treeview.cpp
        src/bookmarks/tfrmbm.cpp
        src/bookmarks/tfrmimport.cpp
        src/bookmarks/tfrmmissing.cpp
    )
endif()
