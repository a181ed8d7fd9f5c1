# Sources of src/recovery: finishing or undoing what a killed run left half done.
target_sources(narrabel_core PRIVATE
    src/recovery/recovery.cpp src/recovery/recovery.h
)
