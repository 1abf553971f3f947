# Wrapped installers: the bare wrapper with a package built in.
#
# brumlet_wrap_msi(<target>
#                  MSI <file.msi> | <msi target>
#                  [PRODUCT_CODE <guid>]
#                  [ICON <file.ico>]
#                  [OUTPUT_NAME <name>]
#                  [OUTPUT_DIRECTORY <dir>]
#                  [SIGN_COMMAND <command with @FILE@>...])
#
# Runs the packaging tool on the prebuilt stub brumlet-wrapper.exe: on Linux
# the native tool (see BrumletNativeTool.cmake), elsewhere brumlet.exe, under
# the cross-compiling emulator when there is one. It writes
# <name>.exe (default: <target>.exe, in the current binary folder). The
# product code comes from the package; PRODUCT_CODE, when given, only checks
# it: a package with another product code stops the build. ICON replaces the
# package's own product icon. MSI may name a target made by brumlet_add_msi();
# the setup program is then built after it and rebuilt when it changes.
# SIGN_COMMAND signs the setup program in place as part of the build: @FILE@
# stands for it; `brumlet check` then runs on the signed file, and only a
# setup program that passed takes its name.
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

include("${CMAKE_CURRENT_LIST_DIR}/BrumletWrapRules.cmake")

function(brumlet_wrap_msi target)
    if(NOT TARGET brumlet-wrapper OR (NOT BRUMLET_WRAP_TOOL AND NOT TARGET brumlet))
        message(FATAL_ERROR
            "brumlet_wrap_msi(${target}): the tool and the stub are not declared yet")
    endif()
    if(BRUMLET_WRAP_TOOL)
        set(BRUMLET_RULE_TOOL ${BRUMLET_WRAP_TOOL})
        set(BRUMLET_RULE_TOOL_PATH "${BRUMLET_WRAP_TOOL}")
        set(BRUMLET_RULE_EMULATOR "")
        set(BRUMLET_RULE_DEPENDS ${BRUMLET_WRAP_TOOL_DEPENDS})
    else()
        # Naming the tool's target runs it through the emulator.
        set(BRUMLET_RULE_TOOL brumlet)
        set(BRUMLET_RULE_TOOL_PATH "$<TARGET_FILE:brumlet>")
        set(BRUMLET_RULE_EMULATOR "$<TARGET_PROPERTY:brumlet,CROSSCOMPILING_EMULATOR>")
        set(BRUMLET_RULE_DEPENDS brumlet)
    endif()
    set(BRUMLET_RULE_STUB "$<TARGET_FILE:brumlet-wrapper>")
    list(APPEND BRUMLET_RULE_DEPENDS brumlet-wrapper)
    brumlet_wrap_msi_rule(${target} ${ARGN})
endfunction()

include("${CMAKE_CURRENT_LIST_DIR}/BrumletNativeTool.cmake")
brumlet_setup_wrap_tool()
