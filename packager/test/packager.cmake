# The packaging tool end to end under Wine: real packages built by wixl,
# wrapped, read back, extracted, signed, installed and removed.

set(tool_test_code "{6C1E0A51-7B43-4F3C-9E0B-2D5A31C7E000}")
brumlet_add_msi(packager_tool_msi WXS "${CMAKE_CURRENT_LIST_DIR}/tool_package.wxs"
    OUTPUT tool.msi
    DEFINES "ProductCode=${tool_test_code}" "Large="
    DEPENDS tool_icon.ico tool_readme.txt tool_notes.txt)
# Wrapped at build time, as a consumer's build does; the product code given
# must agree with the package's.
brumlet_wrap_msi(packager_tool_setup MSI packager_tool_msi PRODUCT_CODE "${tool_test_code}"
    OUTPUT_NAME tool-setup)
get_target_property(tool_setup_file packager_tool_setup BRUMLET_SETUP_FILE)
get_target_property(tool_msi_file packager_tool_msi BRUMLET_MSI_FILE)
brumlet_wine_path(tool_setup_winpath "${tool_setup_file}")

# What Windows reads from the setup program without running it: version
# information, icons, manifest and checksum.
brumlet_add_test(NAME packager_resources_test
    SOURCES "${CMAKE_CURRENT_LIST_DIR}/packager_resources_test.cpp"
    LIBS brumlet_win brumlet_image version imagehlp
    ENVIRONMENT "BRUMLET_TEST_SETUP=${tool_setup_winpath}")
add_dependencies(packager_resources_test packager_tool_setup)

# Every command and refusal through the Linux front, bin/brumlet, and the
# wrapped result installed and removed with Wine's msiexec, signed and not.
add_test(NAME packager_tool_test
    COMMAND bash "${CMAKE_CURRENT_LIST_DIR}/packager_tool_test.sh"
            "${PROJECT_SOURCE_DIR}" "${CMAKE_BINARY_DIR}" "${tool_msi_file}"
            "${CMAKE_CURRENT_BINARY_DIR}/tool-work")
set_tests_properties(packager_tool_test PROPERTIES
    FIXTURES_REQUIRED wine RESOURCE_LOCK brumlet_msi TIMEOUT 600)

# A package of more than 200 MB, built at test time so that the build stays
# small, round-tripped and installed.
add_test(NAME packager_large_test
    COMMAND bash "${CMAKE_CURRENT_LIST_DIR}/packager_large_test.sh"
            "${PROJECT_SOURCE_DIR}" "${CMAKE_BINARY_DIR}" "${CMAKE_CURRENT_BINARY_DIR}/large-work")
set_tests_properties(packager_large_test PROPERTIES
    FIXTURES_REQUIRED wine RESOURCE_LOCK brumlet_msi TIMEOUT 900)

# Another project that takes this one in with add_subdirectory() and wraps a
# package: its setup program must run in a fresh prefix (no runtime DLLs), and
# a wrong PRODUCT_CODE must stop its build.
add_test(NAME packager_consumer_test
    COMMAND bash "${CMAKE_CURRENT_LIST_DIR}/packager_consumer_test.sh"
            "${PROJECT_SOURCE_DIR}" "${CMAKE_CURRENT_LIST_DIR}/consumer"
            "${CMAKE_CURRENT_BINARY_DIR}/consumer-build" "${CMAKE_OBJDUMP}"
            $<TARGET_FILE:brumlet-wrapper> "${CMAKE_BUILD_TYPE}")
set_tests_properties(packager_consumer_test PROPERTIES TIMEOUT 1200)

# The native tool, where the build machine builds one, against brumlet.exe
# under Wine: identical setup programs from every wixl package of the tests,
# the same output and refusals; the native tool with no wine on its path.
if(BRUMLET_WRAP_TOOL)
    set(native_test_packages)
    set(native_test_targets)
    foreach(dir windows/native/test samples packager/test)
        get_property(targets DIRECTORY "${PROJECT_SOURCE_DIR}/${dir}" PROPERTY BUILDSYSTEM_TARGETS)
        foreach(t IN LISTS targets)
            get_target_property(file ${t} BRUMLET_MSI_FILE)
            get_target_property(setup ${t} BRUMLET_SETUP_FILE)
            if(file AND NOT setup)
                list(APPEND native_test_packages "${file}")
                list(APPEND native_test_targets ${t})
            endif()
        endforeach()
    endforeach()
    add_test(NAME packager_native_test
        COMMAND bash "${CMAKE_CURRENT_LIST_DIR}/packager_native_test.sh"
                "${PROJECT_SOURCE_DIR}" "${CMAKE_BINARY_DIR}" "${BRUMLET_WRAP_TOOL}"
                $<TARGET_FILE:brumlet-wrapper> "${CMAKE_CURRENT_BINARY_DIR}/native-work"
                ${native_test_packages})
    # brumlet.exe reads the packages with Wine's msi.dll in the shared prefix,
    # where the tests under this lock install products and swap msimsg.dll.
    set_tests_properties(packager_native_test PROPERTIES
        FIXTURES_REQUIRED wine RESOURCE_LOCK brumlet_msi TIMEOUT 900)
endif()

# The native tool installed with the cross build into one prefix, and as the
# Debian package in a scratch root, used without Wine.
if(BRUMLET_HOST_TOOL_DIR)
    add_test(NAME packager_install_test
        COMMAND bash "${CMAKE_CURRENT_LIST_DIR}/packager_install_test.sh"
                "${PROJECT_SOURCE_DIR}" "${CMAKE_BINARY_DIR}" "${BRUMLET_HOST_TOOL_DIR}"
                "${tool_msi_file}" "${CMAKE_CURRENT_BINARY_DIR}/install-work")
    set_tests_properties(packager_install_test PROPERTIES RESOURCE_LOCK brumlet_host_tool
        TIMEOUT 300)
endif()

# The release zip, unzipped: one folder, and a brumlet.exe that wraps with
# the stub it holds.
add_test(NAME packager_zip_test
    COMMAND bash "${PROJECT_SOURCE_DIR}/packaging/test/zip_test.sh" "${PROJECT_SOURCE_DIR}"
            "${CMAKE_BINARY_DIR}" "${tool_msi_file}" "${CMAKE_CURRENT_BINARY_DIR}/zip-work")
set_tests_properties(packager_zip_test PROPERTIES FIXTURES_REQUIRED wine TIMEOUT 300)

# brumlet.exe when its installer-library reader crashes or hangs.
add_test(NAME packager_reader_hook_test
    COMMAND bash "${CMAKE_CURRENT_LIST_DIR}/reader_hook_test.sh" "${PROJECT_SOURCE_DIR}"
            "${BRUMLET_WINE_RUN}" $<TARGET_FILE:brumlet-readerhook> "${tool_msi_file}"
            "${tool_setup_file}" "${CMAKE_CURRENT_BINARY_DIR}/reader-hook-work"
            $<TARGET_FILE:exit_code_probe>)
set_tests_properties(packager_reader_hook_test PROPERTIES FIXTURES_REQUIRED wine TIMEOUT 180)
