brumlet_add_test(NAME smoke_test SOURCES smoke_test.cpp)
