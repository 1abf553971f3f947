# cmake -DTOOL=<brumlet.exe> -DEMULATOR=<runner or empty> -DMSI=<package>
#       -DEXPECTED=<guid> -DCALLER=<text> -P BrumletWrapCheck.cmake
#
# Stops the build when the package's product code is not EXPECTED: a product
# code written into a build script goes stale when the package changes.
execute_process(COMMAND ${EMULATOR} "${TOOL}" info "${MSI}"
    OUTPUT_VARIABLE out ERROR_VARIABLE err RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
    message(FATAL_ERROR "${CALLER}: brumlet info ${MSI} failed: ${err}")
endif()
if(NOT out MATCHES "Product code: *({[0-9A-Fa-f-]+})")
    message(FATAL_ERROR "${CALLER}: no product code in the output of brumlet info ${MSI}:\n${out}")
endif()
set(actual "${CMAKE_MATCH_1}")
string(TOUPPER "${actual}" actual_upper)
string(TOUPPER "${EXPECTED}" expected_upper)
string(REGEX REPLACE "[{}-]" "" actual_bare "${actual_upper}")
string(REGEX REPLACE "[{}-]" "" expected_bare "${expected_upper}")
if(NOT actual_bare STREQUAL expected_bare)
    message(FATAL_ERROR "${CALLER}: PRODUCT_CODE ${EXPECTED} differs from the product code "
        "${actual} of the package ${MSI}; correct PRODUCT_CODE or leave it out")
endif()
