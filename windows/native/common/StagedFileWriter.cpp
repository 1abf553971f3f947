#include "StagedFileWriter.h"

#include "WinFileUtils.h"

namespace FileUtils {

StagedFileWriter::StagedFileWriter(const tstring& dstPath)
    : tmpPath(createTempFile(L"qzt", L".tmp", dirname(dstPath))), dstPath(dstPath) {
    cleaner.addFile(tmpPath);
    stream.exceptions(std::ios::failbit | std::ios::badbit);
    // The file was created empty just now, so it is opened without truncation:
    // truncating a file to zero makes some file systems (ext4 under Wine)
    // force its data out on close, and the deletion after the install waits.
    stream.open(tmpPath.c_str(), std::ios::in | std::ios::out | std::ios::binary);
}

void StagedFileWriter::write(const void* data, size_t size) {
    stream.write(static_cast<const char*>(data), static_cast<std::streamsize>(size));
}

void StagedFileWriter::finalize() {
    // Closing flushes: a full disk shows here at the latest, before anything
    // touches the destination.
    stream.close();
    moveFile(tmpPath, dstPath, false);
    cleaner.cancel();
}

}  // namespace FileUtils
