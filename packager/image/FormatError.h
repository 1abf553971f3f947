#pragma once

#include <stdexcept>
#include <string>

namespace image {

// What is wrong with a file's contents, in words for its user ("resource
// entry 3 lies outside the file"). The file's name is the caller's to add.
class FormatError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

}  // namespace image
