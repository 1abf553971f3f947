# Database tests: a package whose Binary table holds streams of 0 bytes,
# exactly 2 MiB and 2.5 MiB, read back through records.
set(msidb_payload_defines)
set(msidb_payload_files)
foreach(payload "empty|0|1" "two|2097152|2" "twohalf|2621440|3")
    string(REPLACE "|" ";" fields "${payload}")
    list(GET fields 0 name)
    list(GET fields 1 size)
    list(GET fields 2 seed)
    set(file "${CMAKE_CURRENT_BINARY_DIR}/msidb_stream_${name}.bin")
    add_custom_command(OUTPUT "${file}"
        COMMAND "${CMAKE_COMMAND}" -DOUTPUT=${file} -DSIZE=${size} -DSEED=${seed}
                -P "${CMAKE_CURRENT_LIST_DIR}/tools/stream_payload.cmake"
        DEPENDS "${CMAKE_CURRENT_LIST_DIR}/tools/stream_payload.cmake"
        COMMENT "Writing stream payload ${name}"
        VERBATIM)
    # wixl takes source files relative to the folder of the .wxs only.
    file(RELATIVE_PATH relative "${CMAKE_CURRENT_LIST_DIR}" "${file}")
    list(APPEND msidb_payload_defines "Stream_${name}=${relative}")
    list(APPEND msidb_payload_files "${file}")
endforeach()

brumlet_add_msi(msidb_pkg
    WXS "${CMAKE_CURRENT_LIST_DIR}/msidb_package.wxs"
    DEFINES ${msidb_payload_defines}
    DEPENDS msi_payload.txt ${msidb_payload_files})

brumlet_add_test(NAME msidb_test
    SOURCES ${CMAKE_CURRENT_LIST_DIR}/MsiDb_test.cpp
    LIBS msi_test_support)
add_dependencies(msidb_test msidb_pkg msi_pkg_name19)
# Installs a product of the installer tests and reads msimsg.dll, which
# msi_test swaps.
set_tests_properties(msidb_test PROPERTIES RESOURCE_LOCK brumlet_msi)

brumlet_add_no_msi_import_test(NAME msidb_no_import TARGETS msidb_test)
