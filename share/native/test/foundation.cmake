brumlet_add_test(NAME foundation_test
    SOURCES
        ${CMAKE_CURRENT_LIST_DIR}/tstrings_test.cpp
        ${CMAKE_CURRENT_LIST_DIR}/ErrorHandling_test.cpp
        ${CMAKE_CURRENT_LIST_DIR}/Log_test.cpp
    LIBS brumlet_win)
