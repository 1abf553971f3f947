# The setup program's package folder, built from the wrapper's own sources.
brumlet_add_test(NAME package_folder_test
    SOURCES
        ${CMAKE_CURRENT_LIST_DIR}/PackageFolder_test.cpp
        ${PROJECT_SOURCE_DIR}/wrapper/HandleFiles.cpp
        ${PROJECT_SOURCE_DIR}/wrapper/PackageFolder.cpp
        ${PROJECT_SOURCE_DIR}/wrapper/PrivateFolderSecurity.cpp
    LIBS brumlet_win ntdll)
target_include_directories(package_folder_test PRIVATE "${PROJECT_SOURCE_DIR}/wrapper")
