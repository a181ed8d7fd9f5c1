# The boost test checks that the master volume never moves while it plays;
# every other window start reads and rewrites that volume, so it runs alone.
if(TARGET books_test)
    set_tests_properties(gui.books_test PROPERTIES RUN_SERIAL TRUE)
endif()
