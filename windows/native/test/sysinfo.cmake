add_library(brumlet_dll_fixture SHARED ${CMAKE_CURRENT_LIST_DIR}/dll_fixture.cpp)
set_target_properties(brumlet_dll_fixture PROPERTIES PREFIX "")
target_link_libraries(brumlet_dll_fixture PRIVATE brumlet_win)

brumlet_add_test(NAME dll_test
    SOURCES ${CMAKE_CURRENT_LIST_DIR}/WinDll_test.cpp ${CMAKE_CURRENT_LIST_DIR}/UniqueHandle_test.cpp
    LIBS brumlet_win)
add_dependencies(dll_test brumlet_dll_fixture)

add_executable(sysinfo_probe ${CMAKE_CURRENT_LIST_DIR}/sysinfo_probe.cpp)
target_link_libraries(sysinfo_probe PRIVATE brumlet_win)

brumlet_add_test(NAME sysinfo_test
    SOURCES
        ${CMAKE_CURRENT_LIST_DIR}/WinSysInfo_test.cpp
        ${CMAKE_CURRENT_LIST_DIR}/Guid_test.cpp
    LIBS brumlet_win)
add_dependencies(sysinfo_test sysinfo_probe)

add_test(NAME sysinfo_long_path_test
    COMMAND bash ${CMAKE_CURRENT_LIST_DIR}/sysinfo_long_path_test.sh
        ${BRUMLET_WINE_RUN} $<TARGET_FILE:sysinfo_probe>
        ${CMAKE_CURRENT_BINARY_DIR}/sysinfo_long_path_work)
set_tests_properties(sysinfo_long_path_test PROPERTIES FIXTURES_REQUIRED wine TIMEOUT 300)
