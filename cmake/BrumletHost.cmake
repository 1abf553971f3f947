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
