# cmake -DWIXL=<wixl> -DARGS_FILE=<file> -DDEPFILE=<file> -P BrumletMsiBuild.cmake
#
# The build step of brumlet_add_msi(): runs wixl's preprocessor to learn which
# files the package takes in, writes them to DEPFILE, then builds the package.
# ARGS_FILE sets wxs, wxs_dir, output, wixl_args and include_dirs.
cmake_minimum_required(VERSION 3.20)
include("${ARGS_FILE}")

execute_process(COMMAND "${WIXL}" -E ${wixl_args} "${wxs}"
    WORKING_DIRECTORY "${wxs_dir}"
    OUTPUT_VARIABLE preprocessed ERROR_VARIABLE err RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
    message(FATAL_ERROR "wixl -E ${wxs} failed: ${err}")
endif()

# wixl takes the architecture from -a only: a source for 64 bits built
# without it becomes a package whose template says Intel, with 64-bit
# components in it.
if(NOT "-a" IN_LIST wixl_args AND
   preprocessed MATCHES "[ \t\r\n](Win64=\"yes\"|Platform=\"(x64|arm64|ia64|intel64)\")")
    message(FATAL_ERROR "${wxs} has ${CMAKE_MATCH_1}, which wixl ignores without -a: give "
        "brumlet_add_msi() ARCH x64 (or arm64)")
endif()

set(inputs "${wxs}")

# Included sources are gone from the preprocessor's output: follow the
# <?include?> instructions of the sources themselves, as wixl looks them up
# (beside the including file, then in the include folders).
set(pending "${wxs}")
while(pending)
    list(POP_FRONT pending source)
    file(READ "${source}" text)
    get_filename_component(source_dir "${source}" DIRECTORY)
    string(REGEX MATCHALL "<\\?include[ \t\r\n]+[^?]+\\?>" includes "${text}")
    foreach(instruction IN LISTS includes)
        string(REGEX REPLACE "^<\\?include[ \t\r\n]+\"?([^\"?]*[^\"? \t\r\n])\"?[ \t\r\n]*\\?>$" "\\1"
            name "${instruction}")
        foreach(dir "${source_dir}" ${include_dirs})
            get_filename_component(candidate "${name}" ABSOLUTE BASE_DIR "${dir}")
            if(EXISTS "${candidate}")
                if(NOT candidate IN_LIST inputs)
                    list(APPEND inputs "${candidate}")
                    list(APPEND pending "${candidate}")
                endif()
                break()
            endif()
        endforeach()
    endforeach()
endwhile()

# The payload: every Source= and SourceFile= (File, Binary, Icon, Merge...),
# relative to the folder of the .wxs.
string(REGEX MATCHALL "[ \t\r\n]Source(File)?=\"[^\"]*\"" attributes "${preprocessed}")
foreach(attribute IN LISTS attributes)
    string(REGEX REPLACE "^[ \t\r\n]Source(File)?=\"([^\"]*)\"$" "\\2" path "${attribute}")
    string(REPLACE "&quot;" "\"" path "${path}")
    string(REPLACE "&apos;" "'" path "${path}")
    string(REPLACE "&lt;" "<" path "${path}")
    string(REPLACE "&gt;" ">" path "${path}")
    string(REPLACE "&amp;" "&" path "${path}")
    string(REPLACE "\\" "/" path "${path}")
    get_filename_component(path "${path}" ABSOLUTE BASE_DIR "${wxs_dir}")
    if(NOT path IN_LIST inputs)
        list(APPEND inputs "${path}")
    endif()
endforeach()

# Make's and Ninja's depfile form: blanks and number signs escaped.
set(line)
foreach(path "${output}:" ${inputs})
    string(REPLACE " " "\\ " path "${path}")
    string(REPLACE "#" "\\#" path "${path}")
    string(REPLACE "$" "$$" path "${path}")
    string(APPEND line " ${path}")
endforeach()
string(STRIP "${line}" line)
file(WRITE "${DEPFILE}" "${line}\n")

execute_process(COMMAND "${WIXL}" -o "${output}" ${wixl_args} "${wxs}"
    WORKING_DIRECTORY "${wxs_dir}" RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
    file(REMOVE "${output}")
    message(FATAL_ERROR "wixl failed to build ${output} from ${wxs}")
endif()
