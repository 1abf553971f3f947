# The packaging tool that brumlet_wrap_msi() runs at build time.
#
# On a Linux build machine that is the native tool: BRUMLET_NATIVE_TOOL, when
# set to a built `brumlet`, or else one built from these sources for the build
# machine in <binary dir>/host-tool (needs a host C++ compiler, pkg-config and
# libmsi-dev). Only where neither is possible does the build run brumlet.exe
# under the cross-compiling emulator, Wine.
#
# Sets BRUMLET_WRAP_TOOL (the command that runs the tool, a list) and
# BRUMLET_WRAP_TOOL_DEPENDS (what a wrapping step depends on) in the cache.

set(BRUMLET_NATIVE_TOOL "" CACHE FILEPATH
    "A native brumlet for wrapping at build time; empty: build one when possible")
option(BRUMLET_BUILD_NATIVE_TOOL "Build the native tool for wrapping at build time" ON)

function(brumlet_setup_wrap_tool)
    set(reason)
    if(BRUMLET_NATIVE_TOOL)
        if(NOT EXISTS "${BRUMLET_NATIVE_TOOL}")
            message(FATAL_ERROR "BRUMLET_NATIVE_TOOL ${BRUMLET_NATIVE_TOOL} does not exist")
        endif()
        set(BRUMLET_WRAP_TOOL "${BRUMLET_NATIVE_TOOL}" CACHE INTERNAL "")
        set(BRUMLET_WRAP_TOOL_DEPENDS "${BRUMLET_NATIVE_TOOL}" CACHE INTERNAL "")
        set(BRUMLET_HOST_TOOL_DIR "" CACHE INTERNAL "")
        message(STATUS "brumlet_wrap_msi() wraps with the native brumlet at ${BRUMLET_NATIVE_TOOL}")
        return()
    endif()

    file(GLOB cli_sources "${PROJECT_SOURCE_DIR}/packager/cli/*.cpp")
    find_program(BRUMLET_HOST_PKG_CONFIG NAMES pkg-config pkgconf NO_CMAKE_FIND_ROOT_PATH)
    if(NOT CMAKE_HOST_SYSTEM_NAME STREQUAL "Linux")
        set(reason "the build machine is not Linux")
    elseif(NOT BRUMLET_BUILD_NATIVE_TOOL)
        set(reason "BRUMLET_BUILD_NATIVE_TOOL is off")
    elseif(NOT cli_sources)
        set(reason "this source tree has no portable command line")
    elseif(NOT BRUMLET_HOST_PKG_CONFIG)
        set(reason "pkg-config is missing")
    else()
        execute_process(COMMAND "${BRUMLET_HOST_PKG_CONFIG}" --exists libmsi-1.0
            RESULT_VARIABLE missing)
        if(missing)
            set(reason "libmsi-dev is missing")
        endif()
    endif()
    if(reason)
        message(STATUS "brumlet_wrap_msi() wraps with brumlet.exe under Wine: ${reason}")
        set(BRUMLET_WRAP_TOOL "" CACHE INTERNAL "")
        set(BRUMLET_WRAP_TOOL_DEPENDS "" CACHE INTERNAL "")
        set(BRUMLET_HOST_TOOL_DIR "" CACHE INTERNAL "")
        return()
    endif()

    # The same sources, configured for the build machine with its default
    # compiler; the build step is cheap when nothing changed.
    include(ExternalProject)
    set(dir "${PROJECT_BINARY_DIR}/host-tool")
    set(tool "${dir}/packager/posix/brumlet")
    ExternalProject_Add(brumlet_host_tool
        SOURCE_DIR "${PROJECT_SOURCE_DIR}"
        BINARY_DIR "${dir}"
        CMAKE_ARGS -DBRUMLET_HOST_TOOL=ON -DBRUMLET_BUILD_TESTS=OFF -DCMAKE_BUILD_TYPE=Release
                   # Beside the tool, as in an installed tree: it needs no --stub.
                   "-DBRUMLET_WRAPPER_STUB=$<TARGET_FILE:brumlet-wrapper>"
        BUILD_COMMAND "${CMAKE_COMMAND}" --build "${dir}" --target brumlet
        BUILD_BYPRODUCTS "${tool}"
        BUILD_ALWAYS ON
        INSTALL_COMMAND ""
        EXCLUDE_FROM_ALL ON)
    # The wrapper is declared later; its stub is copied by the tool's build.
    add_dependencies(brumlet_host_tool brumlet-wrapper)
    message(STATUS "brumlet_wrap_msi() wraps with the native brumlet at ${tool} "
        "(built from these sources for this machine)")
    set(BRUMLET_WRAP_TOOL "${tool}" CACHE INTERNAL "")
    set(BRUMLET_WRAP_TOOL_DEPENDS "${tool};brumlet_host_tool" CACHE INTERNAL "")
    set(BRUMLET_HOST_TOOL_DIR "${dir}" CACHE INTERNAL "")
endfunction()
