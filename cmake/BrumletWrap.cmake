# Wrapped installers: the bare wrapper with a package built in.
#
# brumlet_wrap_msi(<target>
#                  MSI <file.msi> | <msi target>
#                  [PRODUCT_CODE <guid>]
#                  [ICON <file.ico>]
#                  [OUTPUT_NAME <name>]
#                  [OUTPUT_DIRECTORY <dir>])
#
# Runs the packaging tool on the prebuilt stub brumlet-wrapper.exe: on Linux
# the native tool (see BrumletNativeTool.cmake), elsewhere brumlet.exe, under
# the cross-compiling emulator when there is one. It writes
# <name>.exe (default: <target>.exe, in the current binary folder). The
# product code comes from the package; PRODUCT_CODE, when given, only checks
# it: a package with another product code stops the build. ICON replaces the
# package's own product icon. MSI may name a target made by brumlet_add_msi();
# the setup program is then built after it and rebuilt when it changes.
#
# Target properties set for the caller:
#   BRUMLET_MSI_FILE    the embedded package's path on the build host
#   BRUMLET_SETUP_FILE  the setup program's path on the build host
#
# brumlet_add_wrapper_executable(<target> [<source>...]) links an executable
# from the wrapper's objects and the given extra sources: the bare stub.

function(brumlet_add_wrapper_executable target)
    add_executable(${target} WIN32 ${ARGN})
    set_target_properties(${target} PROPERTIES BRUMLET_SHIPPED ON)
    target_link_libraries(${target} PRIVATE brumlet_wrapper_objects)
endfunction()

function(brumlet_wrap_msi target)
    cmake_parse_arguments(PARSE_ARGV 1 arg "" "MSI;PRODUCT_CODE;ICON;OUTPUT_NAME;OUTPUT_DIRECTORY"
        "")
    if(arg_UNPARSED_ARGUMENTS)
        message(FATAL_ERROR
            "brumlet_wrap_msi(${target}): unknown arguments ${arg_UNPARSED_ARGUMENTS}")
    endif()
    if(NOT arg_MSI)
        message(FATAL_ERROR "brumlet_wrap_msi(${target}): MSI is required")
    endif()
    if(NOT TARGET brumlet-wrapper OR (NOT BRUMLET_WRAP_TOOL AND NOT TARGET brumlet))
        message(FATAL_ERROR
            "brumlet_wrap_msi(${target}): the tool and the stub are not declared yet")
    endif()

    set(msi_target)
    if(TARGET "${arg_MSI}")
        set(msi_target "${arg_MSI}")
        get_target_property(msi_file "${arg_MSI}" BRUMLET_MSI_FILE)
        if(NOT msi_file)
            message(FATAL_ERROR "brumlet_wrap_msi(${target}): target ${arg_MSI} "
                "has no BRUMLET_MSI_FILE property; make it with brumlet_add_msi()")
        endif()
    else()
        get_filename_component(msi_file "${arg_MSI}" ABSOLUTE BASE_DIR "${CMAKE_CURRENT_SOURCE_DIR}")
    endif()

    set(name "${target}")
    if(arg_OUTPUT_NAME)
        set(name "${arg_OUTPUT_NAME}")
    endif()
    set(dir "${CMAKE_CURRENT_BINARY_DIR}")
    if(arg_OUTPUT_DIRECTORY)
        get_filename_component(dir "${arg_OUTPUT_DIRECTORY}" ABSOLUTE
            BASE_DIR "${CMAKE_CURRENT_BINARY_DIR}")
    endif()
    set(output "${dir}/${name}.exe")

    set(icon_args)
    if(BRUMLET_WRAP_TOOL)
        set(tool ${BRUMLET_WRAP_TOOL})
        set(tool_path "${BRUMLET_WRAP_TOOL}")
        set(emulator "")
        set(depends ${BRUMLET_WRAP_TOOL_DEPENDS})
    else()
        # Naming the tool's target runs it through the emulator.
        set(tool brumlet)
        set(tool_path "$<TARGET_FILE:brumlet>")
        set(emulator "$<TARGET_PROPERTY:brumlet,CROSSCOMPILING_EMULATOR>")
        set(depends brumlet)
    endif()
    list(APPEND depends brumlet-wrapper "${msi_file}")
    if(arg_ICON)
        get_filename_component(icon "${arg_ICON}" ABSOLUTE BASE_DIR "${CMAKE_CURRENT_SOURCE_DIR}")
        set(icon_args --icon "${icon}")
        list(APPEND depends "${icon}")
    endif()

    set(check)
    if(arg_PRODUCT_CODE)
        set(check COMMAND "${CMAKE_COMMAND}"
            "-DTOOL=${tool_path}" "-DEMULATOR=${emulator}"
            "-DMSI=${msi_file}" "-DEXPECTED=${arg_PRODUCT_CODE}" "-DCALLER=brumlet_wrap_msi(${target})"
            -P "${BRUMLET_WRAP_CHECK_SCRIPT}")
    endif()

    add_custom_command(
        OUTPUT "${output}"
        ${check}
        COMMAND ${tool} wrap "${msi_file}" -o "${output}" --stub $<TARGET_FILE:brumlet-wrapper>
                ${icon_args}
        DEPENDS ${depends}
        WORKING_DIRECTORY "${dir}"
        COMMENT "Wrapping ${msi_file} into ${name}.exe"
        VERBATIM)
    add_custom_target(${target} ALL DEPENDS "${output}")
    if(msi_target)
        add_dependencies(${target} ${msi_target})
    endif()
    set_target_properties(${target} PROPERTIES
        BRUMLET_MSI_FILE "${msi_file}"
        BRUMLET_SETUP_FILE "${output}")
endfunction()

include("${CMAKE_CURRENT_LIST_DIR}/BrumletNativeTool.cmake")
brumlet_setup_wrap_tool()

set(BRUMLET_WRAP_CHECK_SCRIPT "${CMAKE_CURRENT_LIST_DIR}/BrumletWrapCheck.cmake"
    CACHE INTERNAL "Checks a package's product code before brumlet_wrap_msi wraps it")
