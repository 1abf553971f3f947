// A DLL of the consumer's own that uses the library, built with the
// compiler's and CMake's defaults.
#include <cstring>
#include <string>

#include "Guid.h"
#include "tstrings.h"

// Writes the product code `text` in the installer's form into `out`; 0 on
// success, -1 when it is no GUID or does not fit.
extern "C" __declspec(dllexport) int consumerNormalizeProductCode(const char* text, char* out,
                                                                  int outSize) {
    try {
        const std::string normal = tstrings::toUtf8(Guid(std::string(text)).toString());
        if (normal.size() + 1 > static_cast<std::size_t>(outSize)) {
            return -1;
        }
        std::memcpy(out, normal.c_str(), normal.size() + 1);
        return 0;
    } catch (...) {
        return -1;
    }
}
