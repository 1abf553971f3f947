# The native build of the packaging tool (see the top-level CMakeLists.txt).
option(BRUMLET_BUILD_TESTS "Build the tests and GoogleTest" ${PROJECT_IS_TOP_LEVEL})
# libFuzzer comes with clang only; another compiler builds the rest.
include(CheckCXXSourceCompiles)
set(CMAKE_REQUIRED_FLAGS -fsanitize=fuzzer)
check_cxx_source_compiles(
    "#include <cstddef>\n#include <cstdint>\nextern \"C\" int LLVMFuzzerTestOneInput(const uint8_t*, size_t) { return 0; }"
    BRUMLET_HAVE_LIBFUZZER)
unset(CMAKE_REQUIRED_FLAGS)
option(BRUMLET_FUZZ "Build the fuzz targets of the image core" ${BRUMLET_HAVE_LIBFUZZER})

if(PROJECT_IS_TOP_LEVEL AND NOT CMAKE_BUILD_TYPE)
    set(CMAKE_BUILD_TYPE Release CACHE STRING "Build type" FORCE)
endif()

set(CMAKE_CXX_STANDARD 17)
set(CMAKE_CXX_STANDARD_REQUIRED ON)
set(CMAKE_CXX_EXTENSIONS OFF)

# The sanitizers for the core's unit tests: the readers meet hostile input.
set(BRUMLET_SANITIZE_OPTIONS -fsanitize=address,undefined -fno-sanitize-recover=all
    -fno-omit-frame-pointer)

if(BRUMLET_BUILD_TESTS)
    enable_testing()
    set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
    set(BRUMLET_GTEST_SOURCE_DIR /usr/src/googletest CACHE PATH "GoogleTest sources")
    add_subdirectory("${BRUMLET_GTEST_SOURCE_DIR}" "${CMAKE_BINARY_DIR}/googletest"
        EXCLUDE_FROM_ALL SYSTEM)
endif()

add_compile_options(-Wall -Wextra -Werror)
# No build path enters a binary (see the top-level CMakeLists.txt); the build
# folder comes last, as it usually lies inside the source tree.
add_compile_options("-ffile-prefix-map=${PROJECT_SOURCE_DIR}=."
    "-ffile-prefix-map=${PROJECT_BINARY_DIR}=.")

# The stub is a program of the cross build. Not named with
# BRUMLET_WRAPPER_STUB, it is that of a cross build of these sources beside
# this tree: taken now when it is built, else looked for again when this
# tree is installed or packaged (the test command configures this tree first).
include("${PROJECT_SOURCE_DIR}/cmake/BrumletCrossStub.cmake")
set(brumlet_stub_at_install OFF)
if(NOT BRUMLET_WRAPPER_STUB)
    brumlet_find_cross_stub(cross_stub "${PROJECT_SOURCE_DIR}" "${PROJECT_BINARY_DIR}")
    if(cross_stub)
        message(STATUS "The stub is the cross build's ${cross_stub}")
        set(BRUMLET_WRAPPER_STUB "${cross_stub}")
    else()
        message(STATUS "BRUMLET_WRAPPER_STUB is not set and no cross build beside this tree has "
            "built its stub yet: it is looked for again at installation")
        set(brumlet_stub_at_install ON)
    endif()
endif()

add_subdirectory(packager)

if(brumlet_stub_at_install)
    install(CODE "
include(\"${PROJECT_SOURCE_DIR}/cmake/BrumletCrossStub.cmake\")
brumlet_find_cross_stub(stub \"${PROJECT_SOURCE_DIR}\" \"${PROJECT_BINARY_DIR}\")
if(stub)
    file(INSTALL \"\${stub}\" DESTINATION \"\${CMAKE_INSTALL_PREFIX}/share/brumlet\")
else()
    message(WARNING \"no stub installed: no cross build beside ${PROJECT_BINARY_DIR} has built \"
        \"one; give it with -DBRUMLET_WRAPPER_STUB=\")
endif()")
endif()

install(FILES "${PROJECT_SOURCE_DIR}/README.md" DESTINATION share/doc/brumlet)

# find_package(Brumlet): brumlet_wrap_msi() with this tool and the stub
# installed beside it.
include(CMakePackageConfigHelpers)
write_basic_package_version_file("${PROJECT_BINARY_DIR}/BrumletConfigVersion.cmake"
    COMPATIBILITY SameMajorVersion ARCH_INDEPENDENT)
install(FILES
    "${PROJECT_SOURCE_DIR}/cmake/BrumletConfig.cmake"
    "${PROJECT_BINARY_DIR}/BrumletConfigVersion.cmake"
    "${PROJECT_SOURCE_DIR}/cmake/BrumletWrapRules.cmake"
    "${PROJECT_SOURCE_DIR}/cmake/BrumletWrapCheck.cmake"
    "${PROJECT_SOURCE_DIR}/cmake/BrumletMsi.cmake"
    "${PROJECT_SOURCE_DIR}/cmake/BrumletMsiBuild.cmake"
    DESTINATION lib/cmake/Brumlet)

include("${PROJECT_SOURCE_DIR}/packaging/Packaging.cmake")

# A Debian package of the tool and the stub; its dependencies are what
# dpkg-shlibdeps finds the program linked against (libmsi, GLib, the C++
# runtime).
set(CPACK_PACKAGE_NAME brumlet)
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
    "Wraps a Windows Installer package into one self-contained setup program")
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION "brumlet wrap app.msi writes app-setup.exe, a Windows x64 program that
installs the package with msiexec, and removes it when run with the
argument uninstall; brumlet info and extract look into setup programs.
Runs natively, without Wine.")
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "Brumlet maintainers <maintainers@brumlet.invalid>")
set(CPACK_DEBIAN_PACKAGE_SECTION devel)
# A Debian revision: the package is made from these sources, which are not
# Debian's own (so its changelog is changelog.Debian.gz).
set(CPACK_DEBIAN_PACKAGE_RELEASE 1)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_STRIP_FILES ON)
# Recommended, one a line: what makes parts of the package work.
set(BRUMLET_DEB_RECOMMENDS
    # The completion in /usr/share/bash-completion does nothing without it.
    bash-completion
)
list(JOIN BRUMLET_DEB_RECOMMENDS ", " CPACK_DEBIAN_PACKAGE_RECOMMENDS)
# No package without the stub.
set(CPACK_PRE_BUILD_SCRIPTS "${PROJECT_SOURCE_DIR}/packaging/CheckStub.cmake")
include(CPack)
