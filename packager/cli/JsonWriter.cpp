#include "JsonWriter.h"

namespace {

// The length of the valid UTF-8 sequence at `i`, or 0.
std::size_t sequenceLength(const std::string& text, std::size_t i) {
    const unsigned char lead = static_cast<unsigned char>(text[i]);
    std::size_t length = 0;
    std::uint32_t least = 0;
    std::uint32_t code = 0;
    if (lead < 0x80) {
        return 1;
    } else if ((lead & 0xE0) == 0xC0) {
        length = 2, least = 0x80, code = lead & 0x1F;
    } else if ((lead & 0xF0) == 0xE0) {
        length = 3, least = 0x800, code = lead & 0x0F;
    } else if ((lead & 0xF8) == 0xF0) {
        length = 4, least = 0x10000, code = lead & 0x07;
    } else {
        return 0;
    }
    if (text.size() - i < length) {
        return 0;
    }
    for (std::size_t k = 1; k < length; ++k) {
        const unsigned char next = static_cast<unsigned char>(text[i + k]);
        if ((next & 0xC0) != 0x80) {
            return 0;
        }
        code = (code << 6) | (next & 0x3F);
    }
    const bool surrogate = code >= 0xD800 && code <= 0xDFFF;
    return code < least || code > 0x10FFFF || surrogate ? 0 : length;
}

}  // namespace

std::string JsonWriter::quote(const std::string& text) {
    static const char hex[] = "0123456789abcdef";
    std::string out = "\"";
    for (std::size_t i = 0; i < text.size();) {
        const unsigned char c = static_cast<unsigned char>(text[i]);
        if (c == '"' || c == '\\') {
            out += '\\';
            out += static_cast<char>(c);
        } else if (c == '\n') {
            out += "\\n";
        } else if (c == '\r') {
            out += "\\r";
        } else if (c == '\t') {
            out += "\\t";
        } else if (c < 0x20 || c == 0x7F) {
            out += "\\u00";
            out += hex[c >> 4];
            out += hex[c & 15];
        } else {
            const std::size_t length = sequenceLength(text, i);
            if (length == 0) {
                out += "\\ufffd";
                ++i;
                continue;
            }
            out.append(text, i, length);
            i += length;
            continue;
        }
        ++i;
    }
    return out + "\"";
}

void JsonWriter::element() {
    if (afterKey) {
        afterKey = false;
        return;
    }
    if (!filled.empty()) {
        out += filled.back() ? ",\n" : "\n";
        filled.back() = true;
        out.append(2 * filled.size(), ' ');
    }
}

JsonWriter& JsonWriter::open(char bracket) {
    element();
    out += bracket;
    filled.push_back(false);
    return *this;
}

JsonWriter& JsonWriter::close(char bracket) {
    const bool any = filled.back();
    filled.pop_back();
    if (any) {
        out += '\n';
        out.append(2 * filled.size(), ' ');
    }
    out += bracket;
    return *this;
}

JsonWriter& JsonWriter::beginObject() {
    return open('{');
}

JsonWriter& JsonWriter::endObject() {
    return close('}');
}

JsonWriter& JsonWriter::beginArray() {
    return open('[');
}

JsonWriter& JsonWriter::endArray() {
    return close(']');
}

JsonWriter& JsonWriter::key(const std::string& name) {
    element();
    out += quote(name) + ": ";
    afterKey = true;
    return *this;
}

JsonWriter& JsonWriter::value(const std::string& text) {
    element();
    out += quote(text);
    return *this;
}

JsonWriter& JsonWriter::value(std::int64_t number) {
    element();
    out += std::to_string(number);
    return *this;
}

JsonWriter& JsonWriter::value(bool flag) {
    element();
    out += flag ? "true" : "false";
    return *this;
}

JsonWriter& JsonWriter::null() {
    element();
    out += "null";
    return *this;
}
