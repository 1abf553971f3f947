#pragma once

#include <cstddef>
#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

#include "PackageReader.h"

// How the reader process hands back what it read, through a pipe to the tool
// that started it: one answer, the facts or the library's refusal, in a
// small binary form that is the same on every platform. The tool trusts none
// of it: the reader ran code that a damaged package may have led astray.
namespace FactsWire {

struct Answer {
    // The refusal's words follow the package's name ("cannot be opened as
    // an installer database: ..."); empty when the facts were read.
    std::string refusal;
    PackageFacts facts;
};

// The most an answer may hold; the tool reads no further.
extern const std::size_t maxAnswerBytes;

std::vector<std::uint8_t> encode(const PackageFacts& facts);
std::vector<std::uint8_t> encodeRefusal(const std::string& refusal);

// What does not hold exactly one answer: a length beyond the bytes received,
// an unknown kind, bytes after the end.
class Malformed : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

Answer decode(const std::uint8_t* data, std::size_t size);

}  // namespace FactsWire
