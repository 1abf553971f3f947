# The stub built again in a second build folder of another name and length,
# from the same sources, must come out byte for byte the same: no build path
# may enter it. It costs one more build of the library and the stub: 14
# minutes once on two cores busy with other builds as well.
add_test(NAME wrapper_reproducible_test
    COMMAND bash "${CMAKE_CURRENT_LIST_DIR}/wrapper_reproducible_test.sh" "${PROJECT_SOURCE_DIR}"
            $<TARGET_FILE:brumlet-wrapper> "${CMAKE_CURRENT_BINARY_DIR}/stub-in-another-folder"
            "${CMAKE_BUILD_TYPE}" "${CMAKE_TOOLCHAIN_FILE}")
set_tests_properties(wrapper_reproducible_test PROPERTIES TIMEOUT 1800)
