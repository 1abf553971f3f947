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
// The longest text an answer may hold: a property's value, the template.
extern const std::size_t maxTextBytes;
// The longest file or cabinet name, in UTF-8 (Windows takes 255 characters).
extern const std::size_t maxNameBytes;

// Why the facts do not fit in an answer ("a file name of 2000 bytes, more
// than 1024"); empty when they do. What the tool read itself is measured with
// it before a reader is asked to send the same.
std::string overLimit(const PackageFacts& facts);

std::vector<std::uint8_t> encode(const PackageFacts& facts);
std::vector<std::uint8_t> encodeRefusal(const std::string& refusal);

// What does not hold exactly one answer: a length beyond the bytes received
// or beyond its field's limit, an unknown kind, bytes after the end.
class Malformed : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

Answer decode(const std::uint8_t* data, std::size_t size);

}  // namespace FactsWire
