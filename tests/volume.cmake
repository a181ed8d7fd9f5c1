# The volume test sets the shared test sink's volume and reads it back; every
# other window start reads and rewrites that volume, so it runs alone.
if(TARGET volume_test)
    set_tests_properties(gui.volume_test PROPERTIES RUN_SERIAL TRUE)
endif()
