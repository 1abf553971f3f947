# Installer packages built from WiX source with wixl (msitools).
#
# brumlet_add_msi(<target> WXS <source.wxs>
#                 [OUTPUT <file.msi>]
#                 [ARCH x64|x86|arm64]
#                 [DEFINES <name=value>...]
#                 [INCLUDE_DIRS <dir>...]
#                 [EXTENSIONS <name>...]
#                 [DEPENDS <file>...])
#
# Builds <file.msi> (default: <target>.msi in the current binary folder) at
# build time and adds the target <target> for it; make a test program depend
# on it with add_dependencies(). ARCH is wixl's -a: without it wixl makes a
# 32-bit package (template Intel;1033) whatever the source's Platform says,
# so a package with 64-bit components needs ARCH x64 (a source with
# Win64="yes" or Platform="x64" and no ARCH stops the build). DEFINES become wixl
# preprocessor variables, $(var.<name>) in the source; INCLUDE_DIRS are
# searched for <?include?> files (-I) and EXTENSIONS are wixl's --ext (a
# wixl that knows that option is needed).
#
# Relative File/@Source paths are taken from the folder of the .wxs. Every
# file the source names after wixl's preprocessor (Source= and SourceFile=
# attributes) and the files it includes are found at build time, so editing
# one of them rebuilds the package and whatever wraps it. DEPENDS lists what
# the source does not name, such as a file a payload is generated from.
#
# Target properties set for the caller:
#   BRUMLET_MSI_FILE     the package's path on the build host
#   BRUMLET_MSI_WINPATH  the same path as a program under Wine sees it
#
# brumlet_wine_path(<var> <path>) turns an absolute host path into that Wine
# form: Wine maps the host's root to drive Z:.

find_program(BRUMLET_WIXL wixl)

# Depfile paths are taken as they are written, relative to the build folder
# of the caller, whatever policies the calling project sets.
cmake_policy(PUSH)
cmake_policy(SET CMP0116 NEW)

function(brumlet_wine_path var path)
    string(REPLACE "/" "\\" winpath "${path}")
    set(${var} "Z:${winpath}" PARENT_SCOPE)
endfunction()

function(brumlet_add_msi target)
    cmake_parse_arguments(PARSE_ARGV 1 arg "" "WXS;OUTPUT;ARCH"
        "DEFINES;INCLUDE_DIRS;EXTENSIONS;DEPENDS")
    if(NOT arg_WXS)
        message(FATAL_ERROR "brumlet_add_msi(${target}): WXS is required")
    endif()
    if(arg_UNPARSED_ARGUMENTS)
        message(FATAL_ERROR
            "brumlet_add_msi(${target}): unknown arguments ${arg_UNPARSED_ARGUMENTS}")
    endif()
    if(NOT BRUMLET_WIXL)
        message(FATAL_ERROR
            "brumlet_add_msi(${target}): wixl not found; install msitools (Debian: wixl)")
    endif()
    if(DEFINED arg_ARCH AND NOT arg_ARCH MATCHES "^(x64|x86|arm64)$")
        message(FATAL_ERROR
            "brumlet_add_msi(${target}): ARCH ${arg_ARCH} is none of x64, x86, arm64")
    endif()
    if(arg_EXTENSIONS)
        execute_process(COMMAND "${BRUMLET_WIXL}" --help OUTPUT_VARIABLE wixl_help
            ERROR_QUIET)
        if(NOT wixl_help MATCHES "--ext")
            message(FATAL_ERROR "brumlet_add_msi(${target}): EXTENSIONS need a wixl that "
                "knows --ext; ${BRUMLET_WIXL} does not")
        endif()
    endif()

    set(build_script "${CMAKE_CURRENT_FUNCTION_LIST_DIR}/BrumletMsiBuild.cmake")
    get_filename_component(wxs "${arg_WXS}" ABSOLUTE)
    get_filename_component(wxs_dir "${wxs}" DIRECTORY)
    if(NOT arg_OUTPUT)
        set(arg_OUTPUT "${CMAKE_CURRENT_BINARY_DIR}/${target}.msi")
    endif()
    get_filename_component(output "${arg_OUTPUT}" ABSOLUTE BASE_DIR "${CMAKE_CURRENT_BINARY_DIR}")

    set(wixl_args)
    if(arg_ARCH)
        list(APPEND wixl_args -a "${arg_ARCH}")
    endif()
    foreach(define IN LISTS arg_DEFINES)
        list(APPEND wixl_args -D "${define}")
    endforeach()
    set(include_dirs)
    foreach(dir IN LISTS arg_INCLUDE_DIRS)
        get_filename_component(dir "${dir}" ABSOLUTE BASE_DIR "${CMAKE_CURRENT_SOURCE_DIR}")
        list(APPEND wixl_args -I "${dir}")
        list(APPEND include_dirs "${dir}")
    endforeach()
    foreach(extension IN LISTS arg_EXTENSIONS)
        list(APPEND wixl_args --ext "${extension}")
    endforeach()

    set(depends)
    foreach(dep IN LISTS arg_DEPENDS)
        get_filename_component(dep "${dep}" ABSOLUTE BASE_DIR "${wxs_dir}")
        list(APPEND depends "${dep}")
    endforeach()

    # The arguments go to the build step in a file, written only when they
    # change: a new configure rebuilds the package only when wixl is to be
    # run differently.
    set(args_file "${CMAKE_CURRENT_BINARY_DIR}/${target}.wixl-args.cmake")
    set(args_content)
    foreach(var wxs wxs_dir output wixl_args include_dirs)
        string(REPLACE "\\" "\\\\" value "${${var}}")
        string(REPLACE "\"" "\\\"" value "${value}")
        string(REPLACE "$" "\\$" value "${value}")
        string(APPEND args_content "set(${var} \"${value}\")\n")
    endforeach()
    set(old_content)
    if(EXISTS "${args_file}")
        file(READ "${args_file}" old_content)
    endif()
    if(NOT old_content STREQUAL args_content)
        file(WRITE "${args_file}" "${args_content}")
    endif()

    set(depfile "${CMAKE_CURRENT_BINARY_DIR}/${target}.msi.d")
    add_custom_command(
        OUTPUT "${output}"
        COMMAND "${CMAKE_COMMAND}" "-DWIXL=${BRUMLET_WIXL}" "-DARGS_FILE=${args_file}"
                "-DDEPFILE=${depfile}" -P "${build_script}"
        DEPENDS "${wxs}" "${args_file}" "${build_script}" ${depends}
        DEPFILE "${depfile}"
        WORKING_DIRECTORY "${wxs_dir}"
        COMMENT "Building installer package ${target}"
        VERBATIM)
    add_custom_target(${target} ALL DEPENDS "${output}")

    brumlet_wine_path(winpath "${output}")
    set_target_properties(${target} PROPERTIES
        BRUMLET_MSI_FILE "${output}"
        BRUMLET_MSI_WINPATH "${winpath}")
endfunction()

cmake_policy(POP)
