# An installed Brumlet, for find_package(Brumlet): brumlet_wrap_msi() wraps
# packages at build time with the installed native tool and stub, and
# brumlet_add_msi() builds packages from WiX source with wixl. A project that
# only wraps needs no compiler at all (project(... LANGUAGES NONE) will do).
#
# brumlet_wrap_msi(<target> MSI <file.msi> | <msi target> [PRODUCT_CODE <guid>]
#                  [ICON <icon>] [OUTPUT_NAME <name>] [OUTPUT_DIRECTORY <dir>]
#                  [SIGN_COMMAND <command with @FILE@>...])
# brumlet_add_msi(<target> WXS <source.wxs> [OUTPUT <file.msi>] [ARCH x64|x86|arm64]
#                 [DEFINES <name=value>...] [INCLUDE_DIRS <dir>...]
#                 [EXTENSIONS <name>...] [DEPENDS <file>...])
# (BrumletWrap.cmake and BrumletMsi.cmake of the sources say more.) The
# setup program's path is the target property BRUMLET_SETUP_FILE, for
# install(PROGRAMS) or a test.
#
# Sets BRUMLET_TOOL (the native brumlet) and BRUMLET_STUB (the bare stub).

# This file lies in <prefix>/lib/cmake/Brumlet.
get_filename_component(_brumlet_prefix "${CMAKE_CURRENT_LIST_DIR}/../../.." ABSOLUTE)
set(BRUMLET_TOOL "${_brumlet_prefix}/bin/brumlet")
set(BRUMLET_STUB "${_brumlet_prefix}/share/brumlet/brumlet-wrapper.exe")
if(NOT EXISTS "${BRUMLET_TOOL}")
    set(Brumlet_FOUND FALSE)
    set(Brumlet_NOT_FOUND_MESSAGE "no native brumlet at ${BRUMLET_TOOL}")
    return()
endif()
if(NOT EXISTS "${BRUMLET_STUB}")
    set(Brumlet_FOUND FALSE)
    set(Brumlet_NOT_FOUND_MESSAGE "no stub at ${BRUMLET_STUB}: install the cross build into "
        "the same prefix, or configure the native build with -DBRUMLET_WRAPPER_STUB=")
    return()
endif()

include("${CMAKE_CURRENT_LIST_DIR}/BrumletWrapRules.cmake")
include("${CMAKE_CURRENT_LIST_DIR}/BrumletMsi.cmake")

function(brumlet_wrap_msi target)
    set(BRUMLET_RULE_TOOL "${BRUMLET_TOOL}")
    set(BRUMLET_RULE_TOOL_PATH "${BRUMLET_TOOL}")
    set(BRUMLET_RULE_EMULATOR "")
    set(BRUMLET_RULE_STUB "${BRUMLET_STUB}")
    set(BRUMLET_RULE_DEPENDS "${BRUMLET_TOOL}" "${BRUMLET_STUB}")
    brumlet_wrap_msi_rule(${target} ${ARGN})
endfunction()

if(NOT Brumlet_FIND_QUIETLY)
    message(STATUS "brumlet_wrap_msi() wraps with the native brumlet at ${BRUMLET_TOOL}")
endif()
