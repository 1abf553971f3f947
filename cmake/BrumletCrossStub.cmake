# brumlet_find_cross_stub(<var> <source dir> <native build dir>)
#
# Sets <var> to the stub of a cross build configured from the same sources,
# where the native build did not name one: the tree $BUILD_DIR names, build/
# in the source tree or beside the native build, or any other tree beside
# either, as the scripts lay out build/ and build-host/. Empty when there is
# none, or it has not built its stub yet. Included at configure time and again
# when the native build is installed or packaged, as the cross build may be
# configured after it.
function(brumlet_find_cross_stub var source binary)
    get_filename_component(parent "${binary}" DIRECTORY)
    set(trees)
    if(NOT "$ENV{BUILD_DIR}" STREQUAL "")
        get_filename_component(tree "$ENV{BUILD_DIR}" ABSOLUTE BASE_DIR "${source}")
        list(APPEND trees "${tree}")
    endif()
    list(APPEND trees "${source}/build" "${parent}/build")
    file(GLOB caches "${parent}/*/CMakeCache.txt" "${source}/*/CMakeCache.txt")
    foreach(cache IN LISTS caches)
        get_filename_component(tree "${cache}" DIRECTORY)
        list(APPEND trees "${tree}")
    endforeach()
    list(REMOVE_DUPLICATES trees)
    get_filename_component(source "${source}" REALPATH)
    foreach(tree IN LISTS trees)
        set(stub "${tree}/wrapper/brumlet-wrapper.exe")
        if(NOT EXISTS "${tree}/CMakeCache.txt" OR NOT EXISTS "${stub}")
            continue()
        endif()
        file(STRINGS "${tree}/CMakeCache.txt" home REGEX "^CMAKE_HOME_DIRECTORY:INTERNAL=")
        string(REGEX REPLACE "^[^=]*=" "" home "${home}")
        get_filename_component(home "${home}" REALPATH)
        file(STRINGS "${tree}/CMakeCache.txt" host REGEX "^BRUMLET_HOST_TOOL:")
        if(home STREQUAL source AND NOT host MATCHES "=(ON|TRUE|YES|1)$")
            set(${var} "${stub}" PARENT_SCOPE)
            return()
        endif()
    endforeach()
    set(${var} "" PARENT_SCOPE)
endfunction()
