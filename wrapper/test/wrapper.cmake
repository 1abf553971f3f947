# End-to-end tests of the wrapper: the real executables, run under Wine.

# Helpers: a stand-in for msiexec.exe and a reader of full 32-bit exit codes.
add_executable(msiexec_standin WIN32 ${CMAKE_CURRENT_LIST_DIR}/msiexec_standin.cpp)
target_link_libraries(msiexec_standin PRIVATE brumlet_test_child_report)
target_link_options(msiexec_standin PRIVATE -municode)
add_executable(exit_code_probe ${CMAKE_CURRENT_LIST_DIR}/exit_code_probe.cpp)

# The sample package wrapped under a name with a blank, as a renamed download
# may have; the bare wrapper serves as the installer without resources. The
# broken ones are linked directly: the packaging tool refuses to make them.
brumlet_wrap_msi(wrapper_test_hello MSI brumlet_hello_msi OUTPUT_NAME "hello setup")
brumlet_link_test_setup(wrapper_test_bad_code MSI brumlet_hello_msi
    PRODUCT_CODE "not-a-product-code" OUTPUT_NAME "bad-code-setup")
brumlet_link_test_setup(wrapper_test_corrupt MSI ${CMAKE_CURRENT_LIST_DIR}/not_a_package.msi
    PRODUCT_CODE "{0B0E8A6C-6B2F-4F0B-9D55-3C1E2A7F4D10}" OUTPUT_NAME "corrupt-setup")
# The tests find everything in one folder.
add_custom_target(wrapper_test_programs ALL
    COMMAND "${CMAKE_COMMAND}" -E copy_if_different $<TARGET_FILE:brumlet-wrapper>
            "${CMAKE_CURRENT_BINARY_DIR}/brumlet-wrapper.exe"
    DEPENDS brumlet-wrapper msiexec_standin exit_code_probe
            wrapper_test_hello wrapper_test_bad_code wrapper_test_corrupt
    VERBATIM)

get_target_property(wrapper_test_hello_msi brumlet_hello_msi BRUMLET_MSI_FILE)

# Arguments, exit codes, failures and traces, against a stand-in msiexec in a
# Wine prefix of the test's own (copied from the shared one, which the wine
# fixture makes).
add_test(NAME wrapper_standin_test
    COMMAND bash "${CMAKE_CURRENT_LIST_DIR}/wrapper_standin_test.sh" "${BRUMLET_WINE_PREFIX}"
            "${CMAKE_CURRENT_BINARY_DIR}" "${CMAKE_CURRENT_BINARY_DIR}/standin-prefix"
            "${wrapper_test_hello_msi}")
# The copy is taken under the installer tests' lock, so it never catches the
# shared prefix with a product installed or msimsg.dll swapped out.
set_tests_properties(wrapper_standin_test PROPERTIES
    FIXTURES_REQUIRED wine RESOURCE_LOCK brumlet_msi TIMEOUT 300)

# The sample installed and removed for real, with Wine's msiexec. It installs
# into the shared prefix, as the installer tests do.
add_test(NAME wrapper_msiexec_test
    COMMAND bash "${CMAKE_CURRENT_LIST_DIR}/wrapper_msiexec_test.sh" "${BRUMLET_WINE_RUN}"
            "${CMAKE_CURRENT_BINARY_DIR}" "${PROJECT_SOURCE_DIR}/samples/hello.txt"
            "${CMAKE_CURRENT_LIST_DIR}/not_a_package.msi")
set_tests_properties(wrapper_msiexec_test PROPERTIES
    FIXTURES_REQUIRED wine RESOURCE_LOCK brumlet_msi TIMEOUT 300)

# The message box of a failing wrapper on a virtual display; the screenshot
# stays in the build folder for people to look at.
add_test(NAME wrapper_msgbox_test
    COMMAND bash "${CMAKE_CURRENT_LIST_DIR}/wrapper_msgbox_test.sh" "${BRUMLET_WINE_PREFIX}"
            "${CMAKE_CURRENT_BINARY_DIR}" "${CMAKE_CURRENT_BINARY_DIR}/msgbox-prefix"
            "${CMAKE_CURRENT_BINARY_DIR}/artifacts/wrapper_msgbox.png")
set_tests_properties(wrapper_msgbox_test PROPERTIES
    FIXTURES_REQUIRED wine RESOURCE_LOCK brumlet_msi TIMEOUT 300)

add_test(NAME wrapper_stub_test
    COMMAND bash "${CMAKE_CURRENT_LIST_DIR}/wrapper_stub_test.sh" "${CMAKE_OBJDUMP}"
            $<TARGET_FILE:brumlet-wrapper>
            "${CMAKE_CURRENT_BINARY_DIR}/hello setup.exe")

# The racer is a native Linux program: the cross build's C compiler is
# MinGW's, so the host's is found by name (clang, which scripts/setup.sh
# installs, will do).
find_program(BRUMLET_HOST_CC NAMES cc gcc clang REQUIRED)
add_custom_command(OUTPUT "${CMAKE_CURRENT_BINARY_DIR}/folder_racer"
    COMMAND "${BRUMLET_HOST_CC}" -O2 -Wall -Wextra -Werror -o "${CMAKE_CURRENT_BINARY_DIR}/folder_racer"
            "${CMAKE_CURRENT_LIST_DIR}/folder_racer.c"
    DEPENDS "${CMAKE_CURRENT_LIST_DIR}/folder_racer.c"
    VERBATIM)
add_custom_target(wrapper_test_racer ALL DEPENDS "${CMAKE_CURRENT_BINARY_DIR}/folder_racer")

# Links swapped in for the package folder, the package and what the removal
# walks, by a native racer, in the stand-in test's prefix copy (hence its
# lock too).
add_test(NAME wrapper_racer_test
    COMMAND bash "${CMAKE_CURRENT_LIST_DIR}/wrapper_racer_test.sh" "${BRUMLET_WINE_PREFIX}"
            "${CMAKE_CURRENT_BINARY_DIR}" "${CMAKE_CURRENT_BINARY_DIR}/standin-prefix"
            "${wrapper_test_hello_msi}" "${CMAKE_CURRENT_BINARY_DIR}/folder_racer")
set_tests_properties(wrapper_racer_test PROPERTIES
    FIXTURES_REQUIRED wine RESOURCE_LOCK brumlet_msi TIMEOUT 300)
