# Packages and setup programs rewritten at test time into the shapes two
# readers could read differently: the native tool and brumlet.exe under Wine
# must agree on each, with the expected verdict; a sample installs and removes.
if(BRUMLET_WRAP_TOOL)
    add_test(NAME packager_differential_test
        COMMAND bash "${CMAKE_CURRENT_LIST_DIR}/packager_differential_test.sh"
                "${PROJECT_SOURCE_DIR}" "${CMAKE_BINARY_DIR}" "${BRUMLET_WRAP_TOOL}"
                $<TARGET_FILE:brumlet-wrapper> "${CMAKE_CURRENT_BINARY_DIR}/differential-work")
    # Installs products into the shared prefix, as the other tests under this lock.
    set_tests_properties(packager_differential_test PROPERTIES
        FIXTURES_REQUIRED wine RESOURCE_LOCK brumlet_msi TIMEOUT 600)
endif()
