#include "ProductCode.h"

#include <cctype>
#include <cstdio>

namespace ProductCode {

namespace {

bool isDash(std::size_t i) {
    return i == 9 || i == 14 || i == 19 || i == 24;
}

}  // namespace

bool isBraced(const std::string& text) {
    if (text.size() != 38 || text.front() != '{' || text.back() != '}') {
        return false;
    }
    for (std::size_t i = 1; i < 37; ++i) {
        const bool ok =
            isDash(i) ? text[i] == '-' : std::isxdigit(static_cast<unsigned char>(text[i])) != 0;
        if (!ok) {
            return false;
        }
    }
    return true;
}

std::string canonical(const std::string& text) {
    std::string form = text;
    if (text.size() >= 32 && text.front() != '{' && text.back() != '}') {
        form = "{" + text + "}";
    }
    if (form.size() == 34 && form.find('-') == std::string::npos) {
        // The 8-4-4-4-12 groups, each dash shifting the next group one further.
        for (const std::size_t at : {9, 14, 19, 24}) {
            form.insert(at, 1, '-');
        }
    }
    if (!isBraced(form)) {
        return std::string();
    }
    for (char& c : form) {
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    }
    return form;
}

std::string visible(const std::string& text) {
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const unsigned char c = static_cast<unsigned char>(text[i]);
        char escape[8];
        if (c == '\r') {
            out += "\\r";
        } else if (c == '\n') {
            out += "\\n";
        } else if (c < 0x20 || c == 0x7f) {
            std::snprintf(escape, sizeof(escape), "\\u%04X", static_cast<unsigned>(c));
            out += escape;
        } else if (text.compare(i, 3, "\xEF\xBB\xBF") == 0) {
            out += "\\uFEFF";
            i += 2;
        } else {
            out += static_cast<char>(c);
        }
    }
    return out;
}

}  // namespace ProductCode
