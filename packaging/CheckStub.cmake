# Run by cpack before it makes a package of the native build: the tool
# without its stub installs cleanly and then fails every wrap.
file(GLOB_RECURSE stubs "${CPACK_TEMPORARY_INSTALL_DIRECTORY}/*brumlet-wrapper.exe")
if(NOT stubs)
    message(FATAL_ERROR "no stub to package: build the cross build (build/ beside this tree) "
        "first, or configure this one with -DBRUMLET_WRAPPER_STUB=<cross build>/wrapper/"
        "brumlet-wrapper.exe")
endif()
