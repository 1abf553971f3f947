# What a Debian user expects beside the program: the manual page, shell
# completion, the licence in Debian's machine-readable form and a changelog,
# each compressed the way Debian's tools do it (gzip -9n: no name, no time
# stamp, so the package's bytes do not depend on when it was built).
set(BRUMLET_PACKAGING_DIR "${CMAKE_CURRENT_LIST_DIR}")

find_program(BRUMLET_GZIP gzip)
if(NOT BRUMLET_GZIP)
    message(FATAL_ERROR "gzip is needed to compress the manual page")
endif()

set(compressed)
foreach(pair "brumlet.1;brumlet.1.gz" "debian/changelog;changelog.Debian.gz")
    list(GET pair 0 source)
    list(GET pair 1 target)
    add_custom_command(OUTPUT "${PROJECT_BINARY_DIR}/packaging/${target}"
        COMMAND sh -c "\"$1\" -9n -c \"$2\" >\"$3\"" sh "${BRUMLET_GZIP}"
                "${BRUMLET_PACKAGING_DIR}/${source}" "${PROJECT_BINARY_DIR}/packaging/${target}"
        DEPENDS "${BRUMLET_PACKAGING_DIR}/${source}"
        VERBATIM)
    list(APPEND compressed "${PROJECT_BINARY_DIR}/packaging/${target}")
endforeach()
add_custom_target(brumlet_packaging_docs ALL DEPENDS ${compressed})
# Whoever builds only the tool (the main job, a host-tool build) can still
# install it.
add_dependencies(brumlet brumlet_packaging_docs)

install(FILES "${PROJECT_BINARY_DIR}/packaging/brumlet.1.gz" DESTINATION share/man/man1)
install(FILES "${BRUMLET_PACKAGING_DIR}/brumlet.bash-completion"
    DESTINATION share/bash-completion/completions RENAME brumlet)
install(FILES
    "${BRUMLET_PACKAGING_DIR}/debian/copyright"
    "${PROJECT_BINARY_DIR}/packaging/changelog.Debian.gz"
    DESTINATION share/doc/brumlet)

if(BRUMLET_BUILD_TESTS)
    # The manual page and the completion name what "brumlet help" names.
    add_test(NAME manpage_test
        COMMAND bash "${BRUMLET_PACKAGING_DIR}/test/manpage_test.sh" "${PROJECT_SOURCE_DIR}"
                $<TARGET_FILE:brumlet>)
endif()
