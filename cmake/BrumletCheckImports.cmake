# cmake -DOBJDUMP=<objdump> -DFORBIDDEN=<dll> -DFILES=<exe|...> -P BrumletCheckImports.cmake
#
# Fails when any of FILES imports the DLL FORBIDDEN (case-insensitive). Each
# file must show an import table at all, so a change in objdump's output
# cannot make the check pass by seeing nothing.
foreach(var OBJDUMP FORBIDDEN FILES)
    if(NOT DEFINED ${var})
        message(FATAL_ERROR "BrumletCheckImports: ${var} is not set")
    endif()
endforeach()

string(TOLOWER "${FORBIDDEN}" forbidden)
string(REPLACE "|" ";" FILES "${FILES}")
foreach(file IN LISTS FILES)
    execute_process(COMMAND "${OBJDUMP}" -p "${file}"
        OUTPUT_VARIABLE dump RESULT_VARIABLE rc ERROR_VARIABLE err)
    if(NOT rc EQUAL 0)
        message(FATAL_ERROR "${OBJDUMP} -p ${file} failed: ${err}")
    endif()
    string(REGEX MATCHALL "DLL Name: [^\r\n]+" imports "${dump}")
    if(NOT imports)
        message(FATAL_ERROR "${file}: no import table found")
    endif()
    foreach(entry IN LISTS imports)
        string(REGEX REPLACE "^DLL Name: *" "" name "${entry}")
        string(STRIP "${name}" name)
        string(TOLOWER "${name}" name)
        if(name STREQUAL forbidden)
            message(FATAL_ERROR "${file} imports ${FORBIDDEN}")
        endif()
    endforeach()
    list(JOIN imports ", " shown)
    message(STATUS "${file}: ${shown}")
endforeach()
