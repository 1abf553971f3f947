#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "ByteSink.h"

class InputFile;

// A file written through a temporary sibling of its path and put in place by
// commit(), which flushes it to disk first, so that after a power loss the
// name leads to the old file or the whole new one. Until commit() an existing
// file at the path stays as it was; an OutputFile destroyed uncommitted
// removes its sibling.
class OutputFile : public image::ByteSink {
public:
    // Raises a ToolError naming `path` as the user gave it when the sibling
    // cannot be created (missing or read-only folder, ...).
    explicit OutputFile(const std::string& path);
    ~OutputFile() override;

    OutputFile(const OutputFile&) = delete;
    OutputFile& operator=(const OutputFile&) = delete;

    void append(const void* data, std::size_t size) override;
    void patch(std::uint64_t offset, const void* data, std::size_t size) override;
    std::uint64_t size() const override;

    // Bytes appended later that lie inside `source`'s data may be copied by
    // the system from that file itself instead of through this process: the
    // same bytes with less copying. `source` outlives this object.
    void copiesFrom(const InputFile& source);

    void commit();

private:
    // The platform's package reader reads what the file holds so far.
    friend struct OutputFileAccess;
    struct Impl;
    std::unique_ptr<Impl> impl;
};
