#include "SummaryInformation.h"

#include <cstring>

#include "ByteView.h"
#include "InstallerTables.h"

namespace image {
namespace SummaryInformation {

namespace {

// {F29F85E0-4FF9-1068-AB91-08002B27B3D9} as stored.
const std::uint8_t kFormat[16] = {0xE0, 0x85, 0x9F, 0xF2, 0xF9, 0x4F, 0x68, 0x10,
                                  0xAB, 0x91, 0x08, 0x00, 0x2B, 0x27, 0xB3, 0xD9};

constexpr std::uint32_t kI2 = 2;
constexpr std::uint32_t kI4 = 3;
constexpr std::uint32_t kLpstr = 30;
constexpr std::uint32_t kFiletime = 64;

constexpr std::uint32_t kTemplate = 7;
constexpr std::uint32_t kPageCount = 14;
constexpr std::uint32_t kWordCount = 15;
constexpr std::uint32_t kLastId = 19;

struct Property {
    const char* name;
    std::uint32_t type;
};

// By id; a null name for an id the format gives no type here.
const Property kProperties[kLastId + 1] = {
    {nullptr, 0},
    {"code page", kI2},
    {"title", kLpstr},
    {"subject", kLpstr},
    {"author", kLpstr},
    {"keywords", kLpstr},
    {"comments", kLpstr},
    {"template", kLpstr},
    {"last author", kLpstr},
    {"revision number", kLpstr},
    {"edit time", kFiletime},
    {"last printed", kFiletime},
    {"create time", kFiletime},
    {"last save time", kFiletime},
    {"page count", kI4},
    {"word count", kI4},
    {"character count", kI4},
    {nullptr, 0},
    {"application name", kLpstr},
    {"security", kI4},
};

const char* typeName(std::uint32_t type) {
    switch (type) {
        case kI2:
            return "VT_I2";
        case kI4:
            return "VT_I4";
        case kLpstr:
            return "VT_LPSTR";
        case kFiletime:
            return "VT_FILETIME";
        case 19:
            return "VT_UI4";
        case 31:
            return "VT_LPWSTR";
    }
    return nullptr;
}

std::string shownType(std::uint32_t type) {
    const char* name = typeName(type);
    return name ? name : "type " + std::to_string(type);
}

[[noreturn]] void fail(const std::string& message) {
    throw InstallerTables::DatabaseError("the Summary Information " + message);
}

}  // namespace

Values read(const std::vector<std::uint8_t>& stream) {
    const ByteView all(stream.data(), stream.size());
    const std::uint64_t size = stream.size();
    // Byte order, version, system, class, the number of sections, then the
    // first section's format and offset.
    if (size < 48 || ByteView::le16(stream.data()) != 0xFFFE ||
        ByteView::le32(stream.data() + 24) == 0 ||
        std::memcmp(stream.data() + 28, kFormat, 16) != 0) {
        fail("is no property set of the summary's format");
    }
    const std::uint64_t section = ByteView::le32(stream.data() + 44);
    if (!all.contains(section, 8)) {
        fail("places its properties at byte " + std::to_string(section) + ", outside its " +
             std::to_string(size) + " bytes");
    }
    const std::uint64_t length = ByteView::le32(stream.data() + section);
    const std::uint64_t count = ByteView::le32(stream.data() + section + 4);
    if (length < 8 || !all.contains(section, length) || count > (length - 8) / 8) {
        fail("lists more properties than its " + std::to_string(size) + " bytes hold");
    }
    const ByteView body = all.sub(section, length, "the Summary Information");
    Values values;
    bool seen[kLastId + 1] = {};
    for (std::uint64_t i = 0; i < count; ++i) {
        const std::uint32_t id = ByteView::le32(body.data() + 8 + 8 * i);
        const std::uint64_t at = ByteView::le32(body.data() + 12 + 8 * i);
        if (id > kLastId || kProperties[id].name == nullptr) {
            fail("holds property " + std::to_string(id) +
                 ", which the installer format does not give");
        }
        const Property& property = kProperties[id];
        if (seen[id]) {
            fail("holds the " + std::string(property.name) + " twice");
        }
        seen[id] = true;
        if (!body.contains(at, 4)) {
            fail("places the " + std::string(property.name) + " outside its bytes");
        }
        const std::uint32_t type = ByteView::le32(body.data() + at);
        if (type != property.type) {
            fail("holds the " + std::string(property.name) + " as " + shownType(type) +
                 ", where the format gives " + typeName(property.type));
        }
        const std::uint64_t value = at + 4;
        const std::uint64_t fixed = type == kI2 ? 2 : type == kI4 ? 4 : type == kFiletime ? 8 : 4;
        if (!body.contains(value, fixed)) {
            fail("holds the " + std::string(property.name) + " cut short");
        }
        if (type == kLpstr) {
            const std::uint64_t bytes = ByteView::le32(body.data() + value);
            if (!body.contains(value + 4, bytes)) {
                fail("holds the " + std::string(property.name) + " cut short");
            }
            if (id == kTemplate) {
                const char* text = reinterpret_cast<const char*>(body.data() + value + 4);
                // Counted with its terminating NUL.
                std::uint64_t end = bytes;
                if (end > 0 && text[end - 1] == 0) {
                    --end;
                }
                for (std::uint64_t k = 0; k < end; ++k) {
                    const auto c = static_cast<unsigned char>(text[k]);
                    if (c == 0 || c >= 0x80) {
                        fail("holds a template that is not plain ASCII text (byte " +
                             std::to_string(k + 1) + " is " + hex(c) + ")");
                    }
                }
                values.summaryTemplate.assign(text, end);
            }
        } else if (id == kPageCount || id == kWordCount) {
            const auto number = static_cast<std::int32_t>(ByteView::le32(body.data() + value));
            (id == kPageCount ? values.pageCount : values.wordCount) = number;
        }
    }
    return values;
}

}  // namespace SummaryInformation
}  // namespace image
