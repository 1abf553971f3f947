#include "VersionResource.h"

#include <cwctype>

#include "ErrorHandling.h"

namespace {

// Appends one version block: its header, key, value and children, each
// starting on a 32-bit boundary, with the block's length patched in at the end.
class BlockWriter {
public:
    explicit BlockWriter(std::vector<std::uint8_t>& out) : out(out) {}

    // Returns the offset of the block for end().
    size_t begin(const tstring& key, WORD valueLength, WORD type) {
        align();
        const size_t start = out.size();
        putWord(0);
        putWord(valueLength);
        putWord(type);
        putText(key);
        align();
        return start;
    }

    void end(size_t start) {
        const size_t length = out.size() - start;
        if (length > 0xffff) {
            BM_THROW_MSG("version information too long (" << length << " bytes)");
        }
        out[start] = static_cast<std::uint8_t>(length & 0xff);
        out[start + 1] = static_cast<std::uint8_t>(length >> 8);
    }

    void putBytes(const void* data, size_t size) {
        const auto* p = static_cast<const std::uint8_t*>(data);
        out.insert(out.end(), p, p + size);
    }

    void putWord(WORD w) { putBytes(&w, sizeof(w)); }

    void putText(const tstring& text) {
        putBytes(text.c_str(), (text.size() + 1) * sizeof(wchar_t));
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

void VersionResource::setVersion(const tstring& text) {
    WORD fields[4] = {0, 0, 0, 0};
    size_t count = 0;
    size_t i = 0;
    while (i < text.size()) {
        if (count == 4) {
            BM_THROW_MSG("'" << text << "' is no version of up to four numbers");
        }
        unsigned long value = 0;
        size_t digits = 0;
        while (i < text.size() && std::iswdigit(text[i]) && text[i] < 0x80) {
            value = value * 10 + static_cast<unsigned long>(text[i] - L'0');
            ++i;
            if (++digits > 5 || value > 0xffff) {
                BM_THROW_MSG("'" << text << "' has a version field above 65535");
            }
        }
        if (digits == 0 || (i < text.size() && (text[i] != L'.' || i + 1 == text.size()))) {
            BM_THROW_MSG("'" << text << "' is no version of up to four numbers");
        }
        fields[count++] = static_cast<WORD>(value);
        if (i < text.size()) {
            ++i;
        }
    }
    if (count == 0) {
        BM_THROW_MSG("an empty version");
    }
    std::copy(fields, fields + 4, version);
}

void VersionResource::setString(const tstring& key, const tstring& value) {
    for (auto& entry : strings) {
        if (entry.first == key) {
            entry.second = value;
            return;
        }
    }
    strings.emplace_back(key, value);
}

std::vector<std::uint8_t> VersionResource::bytes() const {
    std::vector<std::uint8_t> out;
    BlockWriter w(out);

    const size_t root = w.begin(L"VS_VERSION_INFO", sizeof(VS_FIXEDFILEINFO), 0);
    VS_FIXEDFILEINFO fixed = {};
    fixed.dwSignature = VS_FFI_SIGNATURE;
    fixed.dwStrucVersion = VS_FFI_STRUCVERSION;
    fixed.dwFileVersionMS = fixed.dwProductVersionMS =
        (static_cast<DWORD>(version[0]) << 16) | version[1];
    fixed.dwFileVersionLS = fixed.dwProductVersionLS =
        (static_cast<DWORD>(version[2]) << 16) | version[3];
    fixed.dwFileFlagsMask = VS_FFI_FILEFLAGSMASK;
    fixed.dwFileOS = VOS_NT_WINDOWS32;
    fixed.dwFileType = VFT_APP;
    w.putBytes(&fixed, sizeof(fixed));

    const size_t stringInfo = w.begin(L"StringFileInfo", 0, 1);
    const size_t table = w.begin(tstrings::format(L"%04X%04X", language, codePage), 0, 1);
    for (const auto& entry : strings) {
        // The value length counts UTF-16 units with the terminator.
        const size_t units = entry.second.size() + 1;
        if (units > 0xffff) {
            BM_THROW_MSG("version string " << entry.first << " is too long");
        }
        const size_t s = w.begin(entry.first, static_cast<WORD>(units), 1);
        w.putText(entry.second);
        w.end(s);
    }
    w.end(table);
    w.end(stringInfo);

    const size_t varInfo = w.begin(L"VarFileInfo", 0, 1);
    const size_t translation = w.begin(L"Translation", sizeof(DWORD), 0);
    w.putWord(language);
    w.putWord(codePage);
    w.end(translation);
    w.end(varInfo);

    w.end(root);
    return out;
}
