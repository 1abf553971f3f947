# Installer tests: real per-user packages built with wixl, installed and
# removed through Wine's own msi.dll. The table below is the only list of the
# packages: the tests read it from a generated header.
set(msi_wxs "${CMAKE_CURRENT_LIST_DIR}/msi_product.wxs")
set(msi_payload "${CMAKE_CURRENT_LIST_DIR}/msi_payload.txt")

# name;product code;product name;key;reboot on removal
set(msi_packages
    "name19|{B1E7A0C1-0019-4D6B-9A3E-5C1F0B2D0019}|Brumlet test pkg 19|BrumletName19|no"
    "name20|{B1E7A0C1-0020-4D6B-9A3E-5C1F0B2D0020}|Brumlet test pkg 020|BrumletName20|no"
    "name100|{B1E7A0C1-0100-4D6B-9A3E-5C1F0B2D0100}|Brumlet test product whose name is one hundred characters long, made to exercise the reader buffers.|BrumletName100|no"
    "action|{B1E7A0C1-00A1-4D6B-9A3E-5C1F0B2D00A1}|Brumlet action test|BrumletAction|no"
    "reboot|{B1E7A0C1-00B1-4D6B-9A3E-5C1F0B2D00B1}|Brumlet reboot test|BrumletReboot|yes")

set(msi_package_targets)
set(msi_package_lines "// Generated from msi.cmake; edits are overwritten.\n#pragma once\n")
foreach(package IN LISTS msi_packages)
    string(REPLACE "|" ";" fields "${package}")
    list(GET fields 0 name)
    list(GET fields 1 code)
    list(GET fields 2 product)
    list(GET fields 3 key)
    list(GET fields 4 reboot)
    # Upgrade and component codes only need to differ per package.
    string(REPLACE "-4D6B-" "-5D6B-" upgrade "${code}")
    string(REPLACE "-4D6B-" "-6D6B-" component "${code}")
    brumlet_add_msi(msi_pkg_${name}
        WXS "${msi_wxs}"
        DEFINES "ProductCode=${code}" "UpgradeCode=${upgrade}" "ComponentGuid=${component}"
                "ProductName=${product}" "Key=${key}" "RebootOnRemove=${reboot}"
        DEPENDS "${msi_payload}")
    list(APPEND msi_package_targets msi_pkg_${name})
    string(APPEND msi_package_lines "inline const TestPackage ${name}Package = "
        "{L\"msi_pkg_${name}.msi\", L\"${code}\", L\"${product}\", L\"${key}\"};\n")
endforeach()
file(GENERATE OUTPUT "${CMAKE_CURRENT_BINARY_DIR}/generated/MsiTestPackages.h"
    CONTENT "${msi_package_lines}")

# What the installer tests share: the packages, installing one for a test.
add_library(msi_test_support STATIC ${CMAKE_CURRENT_LIST_DIR}/MsiTestSupport.cpp)
target_include_directories(msi_test_support PUBLIC
    "${CMAKE_CURRENT_LIST_DIR}" "${CMAKE_CURRENT_BINARY_DIR}/generated")
target_link_libraries(msi_test_support PUBLIC brumlet_win brumlet_test_support)

# Stands in for the system's msimsg.dll, which under Wine has no string table.
add_library(brumlet_msimsg_fixture SHARED ${CMAKE_CURRENT_LIST_DIR}/msimsg_fixture.rc)
set_target_properties(brumlet_msimsg_fixture PROPERTIES PREFIX "" LINKER_LANGUAGE C)
# Resource-only: no code, no runtime, no entry point.
target_link_options(brumlet_msimsg_fixture PRIVATE -nostdlib -Wl,-e,0)

# The tests find the packages and the fixture library beside their executables.
brumlet_add_test(NAME msi_test
    SOURCES ${CMAKE_CURRENT_LIST_DIR}/MsiUtils_test.cpp
    LIBS msi_test_support)
add_dependencies(msi_test ${msi_package_targets} brumlet_msimsg_fixture)

brumlet_add_test(NAME msi_action_test
    SOURCES ${CMAKE_CURRENT_LIST_DIR}/MsiActions_test.cpp
    LIBS msi_test_support)
add_dependencies(msi_action_test ${msi_package_targets})

# Both install products into the shared prefix and msi_test swaps the prefix's
# msimsg.dll: other tests doing either should take the same lock.
set_tests_properties(msi_test msi_action_test PROPERTIES RESOURCE_LOCK brumlet_msi)

brumlet_add_no_msi_import_test(NAME msi_no_import TARGETS msi_test msi_action_test)
