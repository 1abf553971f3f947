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

add_subdirectory(packager)

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
if(NOT BRUMLET_WRAPPER_STUB)
    message(STATUS "BRUMLET_WRAPPER_STUB is not set: the tool is installed and packaged "
        "without its stub")
endif()
include(CPack)
