brumlet_add_test(NAME app_test SOURCES app_test.cpp LIBS brumlet_common)
