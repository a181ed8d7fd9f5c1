# Sources of src/recovery.
target_sources(narrabel_core PRIVATE
    src/recovery/recovery.cpp
)
