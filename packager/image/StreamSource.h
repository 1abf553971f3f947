#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace image {

// Streams found by the names stored for them, read in whole only when asked:
// a package's cabinets need not be copied to read its tables.
class StreamSource {
public:
    virtual ~StreamSource() = default;
    // False when there is no stream of this name.
    virtual bool size(const std::u16string& name, std::uint64_t& bytes) const = 0;
    // Empty when there is no stream of this name.
    virtual std::vector<std::uint8_t> read(const std::u16string& name) const = 0;
};

}  // namespace image
