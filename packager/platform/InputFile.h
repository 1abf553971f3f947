#pragma once

#include <cstdint>
#include <memory>
#include <string>

// A whole file mapped read-only for as long as the object lives. An empty
// file has no mapping: data() is null and size() 0.
class InputFile {
public:
    // Raises a ToolError that names `what` ("package", "stub", "icon", "file")
    // and the path when the file is missing, a folder or cannot be read.
    InputFile(const std::string& path, const std::string& what);
    ~InputFile();

    InputFile(const InputFile&) = delete;
    InputFile& operator=(const InputFile&) = delete;

    const std::uint8_t* data() const noexcept;
    std::uint64_t size() const noexcept;
    const std::string& path() const noexcept;

private:
    // The platform's OutputFile may copy from the file itself, and its
    // package reader hands the library the file already open.
    friend class OutputFile;
    friend struct InputFileAccess;
    struct Impl;
    std::unique_ptr<Impl> impl;
};
