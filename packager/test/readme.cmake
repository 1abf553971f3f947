# README.md as a user pastes it, in a scratch folder with the tool installed
# from these builds (see readme_test.sh for the marks on its blocks).
if(BRUMLET_HOST_TOOL_DIR)
    add_test(NAME readme_test
        COMMAND bash "${CMAKE_CURRENT_LIST_DIR}/readme_test.sh"
                "${PROJECT_SOURCE_DIR}" "${CMAKE_BINARY_DIR}" "${BRUMLET_HOST_TOOL_DIR}"
                "${CMAKE_CURRENT_BINARY_DIR}/readme-work")
    # Its cpack runs in the native build, as the install test's does. It runs
    # no Wine.
    set_tests_properties(readme_test PROPERTIES RESOURCE_LOCK brumlet_host_tool TIMEOUT 1200)
endif()
