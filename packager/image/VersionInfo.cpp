#include "VersionInfo.h"

#include "ByteView.h"
#include "FormatError.h"
#include "Utf16.h"

namespace image {

namespace {

// Appends one version block: its header, key, value and children, each
// starting on a 32-bit boundary, with the block's length patched in at the end.
class BlockWriter {
public:
    explicit BlockWriter(std::vector<std::uint8_t>& out) : out(out) {}

    // Returns the offset of the block for end().
    std::size_t begin(const std::u16string& key, std::uint16_t valueLength, std::uint16_t type) {
        align();
        const std::size_t start = out.size();
        putWord(0);
        putWord(valueLength);
        putWord(type);
        putText(key);
        align();
        return start;
    }

    void end(std::size_t start) {
        const std::size_t length = out.size() - start;
        if (length > 0xffff) {
            throw FormatError("the version information is too long (" + std::to_string(length) +
                              " bytes)");
        }
        putLe16(&out[start], static_cast<std::uint16_t>(length));
    }

    void putWord(std::uint16_t w) {
        out.push_back(static_cast<std::uint8_t>(w));
        out.push_back(static_cast<std::uint8_t>(w >> 8));
    }

    void putDword(std::uint32_t d) {
        putWord(static_cast<std::uint16_t>(d));
        putWord(static_cast<std::uint16_t>(d >> 16));
    }

    void putText(const std::u16string& text) {
        for (char16_t c : text) {
            putWord(c);
        }
        putWord(0);
    }

    void align() {
        while (out.size() % 4 != 0) {
            out.push_back(0);
        }
    }

private:
    std::vector<std::uint8_t>& out;
};

}  // namespace

void VersionInfo::setVersion(const std::string& text) {
    const auto notVersion = [&text]() {
        throw FormatError("'" + text + "' is no version of up to four numbers");
    };
    std::uint16_t fields[4] = {0, 0, 0, 0};
    std::size_t count = 0;
    std::size_t i = 0;
    while (i < text.size()) {
        if (count == 4) {
            notVersion();
        }
        unsigned long value = 0;
        std::size_t digits = 0;
        while (i < text.size() && text[i] >= '0' && text[i] <= '9') {
            value = value * 10 + static_cast<unsigned long>(text[i] - '0');
            ++i;
            if (++digits > 5 || value > 0xffff) {
                throw FormatError("'" + text + "' has a version field above 65535");
            }
        }
        if (digits == 0 || (i < text.size() && (text[i] != '.' || i + 1 == text.size()))) {
            notVersion();
        }
        fields[count++] = static_cast<std::uint16_t>(value);
        if (i < text.size()) {
            ++i;
        }
    }
    if (count == 0) {
        throw FormatError("an empty version");
    }
    std::copy(fields, fields + 4, version);
}

void VersionInfo::setString(const std::string& key, const std::string& value) {
    const std::u16string k = Utf16::fromUtf8(key);
    const std::u16string v = Utf16::fromUtf8(value);
    for (auto& entry : strings) {
        if (entry.first == k) {
            entry.second = v;
            return;
        }
    }
    strings.emplace_back(k, v);
}

std::vector<std::uint8_t> VersionInfo::bytes() const {
    std::vector<std::uint8_t> out;
    BlockWriter w(out);

    // VS_FIXEDFILEINFO: signature, structure version, file and product
    // versions, the flags mask, flags, NT Windows, an application.
    const std::uint32_t fixedSize = 52;
    const std::size_t root = w.begin(u"VS_VERSION_INFO", fixedSize, 0);
    const std::uint32_t high = (std::uint32_t(version[0]) << 16) | version[1];
    const std::uint32_t low = (std::uint32_t(version[2]) << 16) | version[3];
    for (std::uint32_t d :
         {0xfeef04bdu, 0x00010000u, high, low, high, low, 0x3fu, 0u, 0x00040004u, 1u, 0u, 0u, 0u}) {
        w.putDword(d);
    }

    const std::size_t stringInfo = w.begin(u"StringFileInfo", 0, 1);
    const std::size_t table = w.begin(u"040904B0", 0, 1);
    for (const auto& entry : strings) {
        // The value length counts UTF-16 units with the terminator.
        const std::size_t units = entry.second.size() + 1;
        if (units > 0xffff) {
            throw FormatError("version string " + Utf16::toUtf8(entry.first) + " is too long");
        }
        const std::size_t s = w.begin(entry.first, static_cast<std::uint16_t>(units), 1);
        w.putText(entry.second);
        w.end(s);
    }
    w.end(table);
    w.end(stringInfo);

    const std::size_t varInfo = w.begin(u"VarFileInfo", 0, 1);
    const std::size_t translation = w.begin(u"Translation", 4, 0);
    w.putWord(language);
    w.putWord(codePage);
    w.end(translation);
    w.end(varInfo);

    w.end(root);
    return out;
}

}  // namespace image
