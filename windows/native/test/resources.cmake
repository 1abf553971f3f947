brumlet_add_test(NAME resources_test
    SOURCES resources_test.cpp resources_test.rc
    LIBS brumlet_win)
