# brumlet_add_test(NAME <name> SOURCES <src>... [LIBS <lib>...]
#                  [ENVIRONMENT <VAR=value>...] [TIMEOUT <seconds>])
#
# Builds one GoogleTest console executable and registers it as a single CTest
# test, run under Wine through the emulator script and inside the "wine"
# fixture, so every test shares one prefix and one persistent wineserver.
# To run a single case, pass --gtest_filter to the executable by hand:
#   build/wine-run.sh build/<dir>/<name>.exe --gtest_filter=Suite.Case
#
# Every test program links brumlet_test_support (test/support: log capture,
# error texts, the temporary-folder fixture). It passes only when it exits with
# 0 and printed GoogleTest's closing "[  PASSED  ]" line: under Wine a program
# that crashed can still end with status 0.
#
# BRUMLET_WINE_RUN names the emulator script for tests that drive Wine
# themselves (shell-script tests): "${BRUMLET_WINE_RUN}" <exe> <args>...
# A test that runs a GoogleTest program by hand (to add a filter or limits)
# checks it the same way: "${BRUMLET_GTEST_RUN}" "${BRUMLET_WINE_RUN}" <exe> <args>...
set(BRUMLET_GTEST_RUN "${CMAKE_CURRENT_LIST_DIR}/run-gtest.sh")
get_filename_component(BRUMLET_TEST_SUPPORT_DIR "${CMAKE_CURRENT_LIST_DIR}/../test/support"
    ABSOLUTE)

if(BRUMLET_BUILD_TESTS)
    # Only the share layer: programs that use the file fixture link the
    # Windows layer themselves.
    add_library(brumlet_test_support STATIC "${BRUMLET_TEST_SUPPORT_DIR}/LogCapture.cpp")
    target_include_directories(brumlet_test_support PUBLIC "${BRUMLET_TEST_SUPPORT_DIR}")
    target_link_libraries(brumlet_test_support PUBLIC brumlet_common GTest::gtest)

    # For the child programs that tests start: they link nothing of the project.
    add_library(brumlet_test_child_report INTERFACE)
    target_include_directories(brumlet_test_child_report INTERFACE "${BRUMLET_TEST_SUPPORT_DIR}")
    target_link_libraries(brumlet_test_child_report INTERFACE shell32)
endif()

function(brumlet_add_test)
    cmake_parse_arguments(PARSE_ARGV 0 arg "" "NAME;TIMEOUT" "SOURCES;LIBS;ENVIRONMENT")
    if(NOT arg_NAME)
        message(FATAL_ERROR "brumlet_add_test: NAME is required")
    endif()
    if(NOT arg_SOURCES)
        message(FATAL_ERROR "brumlet_add_test(${arg_NAME}): SOURCES is required")
    endif()
    if(arg_UNPARSED_ARGUMENTS)
        message(FATAL_ERROR
            "brumlet_add_test(${arg_NAME}): unknown arguments ${arg_UNPARSED_ARGUMENTS}")
    endif()
    if(NOT arg_TIMEOUT)
        set(arg_TIMEOUT 300)
    endif()

    add_executable(${arg_NAME} ${arg_SOURCES})
    target_link_libraries(${arg_NAME} PRIVATE
        GTest::gtest_main GTest::gmock brumlet_test_support ${arg_LIBS})

    add_test(NAME ${arg_NAME}
        COMMAND bash "${BRUMLET_GTEST_RUN}" "${BRUMLET_WINE_RUN}" $<TARGET_FILE:${arg_NAME}>)
    set_tests_properties(${arg_NAME} PROPERTIES
        FIXTURES_REQUIRED wine
        TIMEOUT ${arg_TIMEOUT})
    if(arg_ENVIRONMENT)
        set_tests_properties(${arg_NAME} PROPERTIES ENVIRONMENT "${arg_ENVIRONMENT}")
    endif()
endfunction()

# Pulls in every *.cmake file of the calling folder, so that each test program
# is declared in a file of its own and nobody edits a shared list.
macro(brumlet_include_test_files)
    file(GLOB _brumlet_test_files CONFIGURE_DEPENDS "${CMAKE_CURRENT_SOURCE_DIR}/*.cmake")
    list(SORT _brumlet_test_files)
    foreach(_brumlet_test_file IN LISTS _brumlet_test_files)
        include("${_brumlet_test_file}")
    endforeach()
endmacro()

# Installer packages built from WiX source for tests: brumlet_add_msi().
include("${CMAKE_CURRENT_LIST_DIR}/BrumletMsi.cmake")

set(BRUMLET_CHECK_IMPORTS_SCRIPT "${CMAKE_CURRENT_LIST_DIR}/BrumletCheckImports.cmake")

# brumlet_add_no_msi_import_test(NAME <test> TARGETS <executable>...)
#
# A test that fails when one of the executables imports msi.dll: the installer
# library must only ever be bound at run time from the system directory.
function(brumlet_add_no_msi_import_test)
    cmake_parse_arguments(PARSE_ARGV 0 arg "" "NAME" "TARGETS")
    if(NOT arg_NAME OR NOT arg_TARGETS)
        message(FATAL_ERROR "brumlet_add_no_msi_import_test: NAME and TARGETS are required")
    endif()
    set(files)
    foreach(target IN LISTS arg_TARGETS)
        list(APPEND files "$<TARGET_FILE:${target}>")
    endforeach()
    # A list would be split into several arguments on the way to the script.
    list(JOIN files "|" files)
    add_test(NAME ${arg_NAME}
        COMMAND "${CMAKE_COMMAND}" "-DOBJDUMP=${CMAKE_OBJDUMP}" -DFORBIDDEN=msi.dll
                "-DFILES=${files}" -P "${BRUMLET_CHECK_IMPORTS_SCRIPT}")
endfunction()

# brumlet_link_test_setup(<target> OUTPUT_NAME <name>
#                         [MSI <file.msi> | <msi target>]
#                         [PRODUCT_CODE <text>])
#
# For tests only: links <name>.exe from the wrapper's objects with the raw-data
# resources "msi" (the file's bytes) and "product_code" (exactly <text>), each
# only when given, and with no check at all. This makes the broken setup
# programs (a product code that is no GUID, a package that is none, no
# resources) that the packaging tool rightly refuses to make.
function(brumlet_link_test_setup target)
    cmake_parse_arguments(PARSE_ARGV 1 arg "" "MSI;PRODUCT_CODE;OUTPUT_NAME" "")
    set(work "${CMAKE_CURRENT_BINARY_DIR}/${target}.link")
    set(rc_lines "// Generated by brumlet_link_test_setup(${target}); edits are overwritten.\n")
    set(depends)
    set(msi_target)
    if(arg_MSI)
        if(TARGET "${arg_MSI}")
            set(msi_target "${arg_MSI}")
            get_target_property(msi_file "${arg_MSI}" BRUMLET_MSI_FILE)
        else()
            get_filename_component(msi_file "${arg_MSI}" ABSOLUTE
                BASE_DIR "${CMAKE_CURRENT_SOURCE_DIR}")
        endif()
        # Upper-case names, as the loader looks them up.
        string(APPEND rc_lines "MSI RCDATA \"${msi_file}\"\n")
        list(APPEND depends "${msi_file}")
    endif()
    if(DEFINED arg_PRODUCT_CODE)
        file(GENERATE OUTPUT "${work}/product_code" CONTENT "${arg_PRODUCT_CODE}")
        string(APPEND rc_lines "PRODUCT_CODE RCDATA \"${work}/product_code\"\n")
        list(APPEND depends "${work}/product_code")
    endif()
    file(GENERATE OUTPUT "${work}/resources.rc" CONTENT "${rc_lines}")
    set_source_files_properties("${work}/resources.rc" PROPERTIES
        GENERATED TRUE OBJECT_DEPENDS "${depends}")
    brumlet_add_wrapper_executable(${target} "${work}/resources.rc")
    if(msi_target)
        add_dependencies(${target} ${msi_target})
    endif()
    if(arg_OUTPUT_NAME)
        set_target_properties(${target} PROPERTIES OUTPUT_NAME "${arg_OUTPUT_NAME}")
    endif()
endfunction()
