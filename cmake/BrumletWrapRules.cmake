# The build rule behind brumlet_wrap_msi(), shared by a build that takes in
# Brumlet's sources (BrumletWrap.cmake) and by an installed Brumlet
# (BrumletConfig.cmake). Each of them says how to run the tool and where the
# stub is, in variables of the calling function:
#   BRUMLET_RULE_TOOL       the command that runs the tool (a list)
#   BRUMLET_RULE_TOOL_PATH  the tool's file, for the product code check
#   BRUMLET_RULE_EMULATOR   what runs that file, when it is no native program
#   BRUMLET_RULE_STUB       the bare stub (a path or a generator expression)
#   BRUMLET_RULE_DEPENDS    what a wrapping step depends on besides the package
# and then calls brumlet_wrap_msi_rule(<target> <brumlet_wrap_msi arguments>).
#
# SIGN_COMMAND <command...> runs the command, where @FILE@ stands for the new
# setup program, after the wrap and `brumlet check` after it, both as part of
# the build step.

set_property(GLOBAL PROPERTY BRUMLET_WRAP_CHECK_SCRIPT
    "${CMAKE_CURRENT_LIST_DIR}/BrumletWrapCheck.cmake")

function(brumlet_wrap_msi_rule target)
    cmake_parse_arguments(PARSE_ARGV 1 arg "" "MSI;PRODUCT_CODE;ICON;OUTPUT_NAME;OUTPUT_DIRECTORY"
        "SIGN_COMMAND")
    if(arg_UNPARSED_ARGUMENTS)
        message(FATAL_ERROR
            "brumlet_wrap_msi(${target}): unknown arguments ${arg_UNPARSED_ARGUMENTS}")
    endif()
    if(NOT arg_MSI)
        message(FATAL_ERROR "brumlet_wrap_msi(${target}): MSI is required")
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

    set(depends ${BRUMLET_RULE_DEPENDS} "${msi_file}")
    set(icon_args)
    if(arg_ICON)
        get_filename_component(icon "${arg_ICON}" ABSOLUTE BASE_DIR "${CMAKE_CURRENT_SOURCE_DIR}")
        set(icon_args --icon "${icon}")
        list(APPEND depends "${icon}")
    endif()

    set(check)
    if(arg_PRODUCT_CODE)
        get_property(check_script GLOBAL PROPERTY BRUMLET_WRAP_CHECK_SCRIPT)
        set(check COMMAND "${CMAKE_COMMAND}"
            "-DTOOL=${BRUMLET_RULE_TOOL_PATH}" "-DEMULATOR=${BRUMLET_RULE_EMULATOR}"
            "-DMSI=${msi_file}" "-DEXPECTED=${arg_PRODUCT_CODE}" "-DCALLER=brumlet_wrap_msi(${target})"
            -P "${check_script}")
    endif()

    # Signed, the setup program is made, signed and checked under another
    # name and takes its own only when all of that succeeded: a failed
    # signature leaves no unsigned file that the next build takes as done.
    set(wrapped "${output}")
    set(sign)
    if(DEFINED arg_SIGN_COMMAND)
        if(NOT arg_SIGN_COMMAND MATCHES "@FILE@")
            message(FATAL_ERROR "brumlet_wrap_msi(${target}): SIGN_COMMAND names no @FILE@, "
                "the setup program to sign")
        endif()
        # The same file name: it is part of the setup program's bytes.
        set(signing_dir "${CMAKE_CURRENT_BINARY_DIR}/${target}.signing")
        set(wrapped "${signing_dir}/${name}.exe")
        string(REPLACE "@FILE@" "${wrapped}" sign_command "${arg_SIGN_COMMAND}")
        # What a failed signer left there is no setup program to replace.
        list(PREPEND check COMMAND "${CMAKE_COMMAND}" -E make_directory "${signing_dir}"
            COMMAND "${CMAKE_COMMAND}" -E rm -f "${wrapped}")
        set(sign
            COMMAND ${sign_command}
            COMMAND ${BRUMLET_RULE_TOOL} check --quiet "${wrapped}"
            COMMAND "${CMAKE_COMMAND}" -E rename "${wrapped}" "${output}")
    endif()

    add_custom_command(
        OUTPUT "${output}"
        ${check}
        COMMAND ${BRUMLET_RULE_TOOL} wrap "${msi_file}" -o "${wrapped}" --stub "${BRUMLET_RULE_STUB}"
                ${icon_args}
        ${sign}
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
