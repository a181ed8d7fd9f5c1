# The player test times playback on the shared test sink and now and then fails
# when another program plays on that sink at the same moment: it runs alone.
if(TARGET player_test)
    set_tests_properties(gui.player_test PROPERTIES RUN_SERIAL TRUE)
endif()
