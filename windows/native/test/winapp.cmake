# The Windows launch frame is exercised in a GUI program started the way users
# start it: from a console (Wine's cmd) and on its own.
add_executable(winapp_probe WIN32 winapp_probe.cpp)
target_link_libraries(winapp_probe PRIVATE brumlet_win)

add_test(NAME winapp_test
    COMMAND bash "${CMAKE_CURRENT_SOURCE_DIR}/winapp_test.sh" "${BRUMLET_WINE_RUN}"
            "$<TARGET_FILE:winapp_probe>")
set_tests_properties(winapp_test PROPERTIES FIXTURES_REQUIRED wine TIMEOUT 300)
