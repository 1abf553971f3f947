brumlet_add_test(NAME files_test
    SOURCES
        ${CMAKE_CURRENT_LIST_DIR}/WinFileUtils_test.cpp
        ${CMAKE_CURRENT_LIST_DIR}/ScopedDeleter_test.cpp
        ${CMAKE_CURRENT_LIST_DIR}/StagedFileWriter_test.cpp
    LIBS brumlet_win)

# The staged writer once more under a file size limit, so that its writes fail
# half-way as on a full disk. SIGXFSZ is ignored so the write reports the error
# instead of killing the process.
add_test(NAME files_test_full_disk
    COMMAND sh -c "trap '' XFSZ; ulimit -f 2048; exec bash \"$0\" \"$1\" \"$2\" --gtest_filter=StagedWrite.FullDisk*"
        "${BRUMLET_GTEST_RUN}" "${BRUMLET_WINE_RUN}" $<TARGET_FILE:files_test>)
set_tests_properties(files_test_full_disk PROPERTIES
    FIXTURES_REQUIRED wine
    TIMEOUT 300
    ENVIRONMENT BRUMLET_TEST_FILE_SIZE_LIMIT=1)

# Recursive deletion must not follow a directory link out of the tree. Wine
# shows a Unix symbolic link as one, and a Windows program cannot make one.
add_test(NAME files_test_links
    COMMAND sh -c [=[
set -e
root=$(mktemp -d)
trap 'rm -rf "$root"' EXIT
mkdir "$root/outside" "$root/tree"
echo keep > "$root/outside/keep.txt"
echo gone > "$root/tree/file.txt"
ln -s ../outside "$root/tree/link"
BRUMLET_TEST_LINK_TREE="Z:$(printf '%s' "$root" | tr / '\\')" \
    bash "$0" "$1" "$2" --gtest_filter=Batch.RecursiveDeletionNeverFollowsALink
]=] "${BRUMLET_GTEST_RUN}" "${BRUMLET_WINE_RUN}" $<TARGET_FILE:files_test>)
set_tests_properties(files_test_links PROPERTIES FIXTURES_REQUIRED wine TIMEOUT 300)
