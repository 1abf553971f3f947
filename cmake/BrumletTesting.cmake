# brumlet_add_test(NAME <name> SOURCES <src>... [LIBS <lib>...]
#                  [ENVIRONMENT <VAR=value>...] [TIMEOUT <seconds>])
#
# Builds one GoogleTest console executable and registers it as a single CTest
# test, run under Wine through the emulator script and inside the "wine"
# fixture, so every test shares one prefix and one persistent wineserver.
# To run a single case, pass --gtest_filter to the executable by hand:
#   build/wine-run.sh build/<dir>/<name>.exe --gtest_filter=Suite.Case
#
# BRUMLET_WINE_RUN names the emulator script for tests that drive Wine
# themselves (shell-script tests): "${BRUMLET_WINE_RUN}" <exe> <args>...
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
    target_link_libraries(${arg_NAME} PRIVATE GTest::gtest_main GTest::gmock ${arg_LIBS})

    add_test(NAME ${arg_NAME} COMMAND ${arg_NAME})
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
