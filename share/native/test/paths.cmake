brumlet_add_test(NAME paths_test SOURCES paths_test.cpp LIBS brumlet_common)
