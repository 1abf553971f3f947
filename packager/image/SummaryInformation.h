#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace image {

// A package's "\x05SummaryInformation" stream: a property set whose
// properties the installer libraries read each their own way when a type is
// not the one the format gives. Only the format's types pass, each property
// once.
namespace SummaryInformation {

struct Values {
    std::string summaryTemplate;  // ASCII; empty when absent
    std::int64_t pageCount = -1;  // -1 when absent
    std::int64_t wordCount = -1;
};

// Raises InstallerTables::DatabaseError with one line saying what is wrong.
Values read(const std::vector<std::uint8_t>& stream);

}  // namespace SummaryInformation
}  // namespace image
