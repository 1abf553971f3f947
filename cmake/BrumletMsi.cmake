# Installer packages built from WiX source with wixl (msitools).
#
# brumlet_add_msi(<target> WXS <source.wxs>
#                 [OUTPUT <file.msi>]
#                 [DEFINES <name=value>...]
#                 [DEPENDS <file>...])
#
# Builds <file.msi> (default: <target>.msi in the current binary folder) at
# build time and adds the target <target> for it; make a test program depend
# on it with add_dependencies(). DEFINES become wixl preprocessor variables,
# $(var.<name>) in the source. Relative File/@Source paths are taken from the
# folder of the .wxs; list those files in DEPENDS so the package is rebuilt
# when they change.
#
# Target properties set for the caller:
#   BRUMLET_MSI_FILE     the package's path on the build host
#   BRUMLET_MSI_WINPATH  the same path as a program under Wine sees it
#
# brumlet_wine_path(<var> <path>) turns an absolute host path into that Wine
# form: Wine maps the host's root to drive Z:.

find_program(BRUMLET_WIXL wixl)

function(brumlet_wine_path var path)
    string(REPLACE "/" "\\" winpath "${path}")
    set(${var} "Z:${winpath}" PARENT_SCOPE)
endfunction()

function(brumlet_add_msi target)
    cmake_parse_arguments(PARSE_ARGV 1 arg "" "WXS;OUTPUT" "DEFINES;DEPENDS")
    if(NOT arg_WXS)
        message(FATAL_ERROR "brumlet_add_msi(${target}): WXS is required")
    endif()
    if(arg_UNPARSED_ARGUMENTS)
        message(FATAL_ERROR
            "brumlet_add_msi(${target}): unknown arguments ${arg_UNPARSED_ARGUMENTS}")
    endif()
    if(NOT BRUMLET_WIXL)
        message(FATAL_ERROR
            "brumlet_add_msi(${target}): wixl not found; scripts/setup.sh installs it")
    endif()

    get_filename_component(wxs "${arg_WXS}" ABSOLUTE)
    get_filename_component(wxs_dir "${wxs}" DIRECTORY)
    if(NOT arg_OUTPUT)
        set(arg_OUTPUT "${CMAKE_CURRENT_BINARY_DIR}/${target}.msi")
    endif()
    get_filename_component(output "${arg_OUTPUT}" ABSOLUTE BASE_DIR "${CMAKE_CURRENT_BINARY_DIR}")

    set(defines)
    foreach(define IN LISTS arg_DEFINES)
        list(APPEND defines -D "${define}")
    endforeach()

    set(depends)
    foreach(dep IN LISTS arg_DEPENDS)
        get_filename_component(dep "${dep}" ABSOLUTE BASE_DIR "${wxs_dir}")
        list(APPEND depends "${dep}")
    endforeach()

    add_custom_command(
        OUTPUT "${output}"
        COMMAND "${BRUMLET_WIXL}" -o "${output}" ${defines} "${wxs}"
        DEPENDS "${wxs}" ${depends}
        WORKING_DIRECTORY "${wxs_dir}"
        COMMENT "Building installer package ${target}"
        VERBATIM)
    add_custom_target(${target} ALL DEPENDS "${output}")

    brumlet_wine_path(winpath "${output}")
    set_target_properties(${target} PROPERTIES
        BRUMLET_MSI_FILE "${output}"
        BRUMLET_MSI_WINPATH "${winpath}")
endfunction()
