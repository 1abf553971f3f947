# Custom-action tests: the argument parsing and log records directly, and a
# DLL of the framework's run by the installer during a real installation.
add_library(msica_fixture SHARED ${CMAKE_CURRENT_LIST_DIR}/msica_fixture.cpp)
set_target_properties(msica_fixture PROPERTIES PREFIX "")
target_link_libraries(msica_fixture PRIVATE brumlet_win)

# wixl takes source files relative to the folder of the .wxs only.
file(RELATIVE_PATH msica_dll "${CMAKE_CURRENT_LIST_DIR}"
    "${CMAKE_CURRENT_BINARY_DIR}/msica_fixture.dll")
brumlet_add_msi(msica_pkg
    WXS "${CMAKE_CURRENT_LIST_DIR}/msica_package.wxs"
    DEFINES "CaDll=${msica_dll}"
    DEPENDS msi_payload.txt "${CMAKE_CURRENT_BINARY_DIR}/msica_fixture.dll")

brumlet_add_test(NAME msica_test
    SOURCES ${CMAKE_CURRENT_LIST_DIR}/MsiCA_test.cpp
    LIBS msi_test_support)
add_dependencies(msica_test msica_pkg)
# Installs a product, and reads msimsg.dll, which msi_test swaps.
set_tests_properties(msica_test PROPERTIES RESOURCE_LOCK brumlet_msi)

brumlet_add_no_msi_import_test(NAME msica_no_import TARGETS msica_test msica_fixture)
