add_library(brumlet_dll_fixture SHARED ${CMAKE_CURRENT_LIST_DIR}/dll_fixture.cpp)
set_target_properties(brumlet_dll_fixture PROPERTIES PREFIX "")

brumlet_add_test(NAME dll_test
    SOURCES ${CMAKE_CURRENT_LIST_DIR}/WinDll_test.cpp
    LIBS brumlet_win)
add_dependencies(dll_test brumlet_dll_fixture)
