brumlet_add_test(NAME files_test
    SOURCES
        ${CMAKE_CURRENT_LIST_DIR}/WinFileUtils_test.cpp
    LIBS brumlet_win)
