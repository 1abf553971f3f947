#pragma once

#include <cstdint>
#include <string>
#include <vector>

// Writes one JSON document, indented two spaces a level. The caller keeps
// the nesting right (a key before each value inside an object); text that is
// no valid UTF-8 is written with U+FFFD for each bad byte, so that every
// parser takes the result.
class JsonWriter {
public:
    JsonWriter& beginObject();
    JsonWriter& endObject();
    JsonWriter& beginArray();
    JsonWriter& endArray();
    JsonWriter& key(const std::string& name);
    JsonWriter& value(const std::string& text);
    JsonWriter& value(const char* text) { return value(std::string(text)); }
    JsonWriter& value(std::int64_t number);
    JsonWriter& value(bool flag);
    JsonWriter& null();

    // The document so far, one line per element.
    const std::string& text() const noexcept { return out; }

    static std::string quote(const std::string& text);

private:
    std::string out;
    // Per open container: whether it has an element yet.
    std::vector<bool> filled;
    bool afterKey = false;

    void element();
    JsonWriter& open(char bracket);
    JsonWriter& close(char bracket);
};
