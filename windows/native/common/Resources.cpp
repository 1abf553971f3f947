#include "Resources.h"

#include "Log.h"
#include "StagedFileWriter.h"
#include "WinErrorHandling.h"

namespace {

const WORD stringTableType = 6;
const unsigned stringsPerBlock = 16;

// Fills the text form of a name or type and returns the value handed to
// Windows, which points into `text` when the value is a text.
LPCWSTR initName(LPCWSTR value, tstring& text) {
    if (IS_INTRESOURCE(value)) {
        text = (tstrings::MessageBuilder()
                << L"#" << static_cast<unsigned long long>(reinterpret_cast<ULONG_PTR>(value)))
                   .tstr();
        return value;
    }
    text = value;
    return text.c_str();
}

WORD idOf(LPCWSTR value) {
    return static_cast<WORD>(reinterpret_cast<ULONG_PTR>(value));
}

}  // namespace

Resource::Resource(LPCWSTR name, LPCWSTR type, HMODULE module) : module(module) {
    this->name = initName(name, nameText);
    this->type = initName(type, typeText);
}

Resource::Resource(WORD id, LPCWSTR type, HMODULE module)
    : Resource(MAKEINTRESOURCEW(id), type, module) {}

bool Resource::isStringTable() const {
    return IS_INTRESOURCE(type) && idOf(type) == stringTableType && IS_INTRESOURCE(name);
}

HRSRC Resource::find() const {
    LPCWSTR lookupName = name;
    if (isStringTable()) {
        // Strings are stored in blocks of sixteen, numbered from one.
        lookupName = MAKEINTRESOURCEW(static_cast<WORD>(idOf(name) / stringsPerBlock + 1));
    }
    return FindResourceW(module, lookupName, type);
}

bool Resource::available() const {
    return find() != nullptr;
}

const void* Resource::getPtr(DWORD& size) const {
    const HRSRC h = find();
    if (!h) {
        BM_THROW_SYSERROR(errorText("cannot find resource"), FindResourceW);
    }
    const HGLOBAL g = LoadResource(module, h);
    if (!g) {
        BM_THROW_SYSERROR(errorText("cannot load resource"), LoadResource);
    }
    const void* p = LockResource(g);
    if (!p) {
        BM_THROW_SYSERROR(errorText("cannot lock resource"), LockResource);
    }

    if (!isStringTable()) {
        size = SizeofResource(module, h);
        return p;
    }

    // A block holds sixteen counted strings: a length in UTF-16 units, then
    // that many units, no terminators. The block's size bounds the walk, so a
    // damaged block cannot send it into foreign memory.
    const WORD* unit = static_cast<const WORD*>(p);
    const WORD* const end = unit + SizeofResource(module, h) / sizeof(WORD);
    for (unsigned skip = idOf(name) % stringsPerBlock;; --skip) {
        if (unit >= end || end - (unit + 1) < *unit) {
            BM_THROW(errorText("damaged string table block"));
        }
        if (skip == 0) {
            size = static_cast<DWORD>(*unit) * sizeof(WORD);
            return unit + 1;
        }
        unit += 1 + *unit;
    }
}

DWORD Resource::size() const {
    DWORD size = 0;
    getPtr(size);
    return size;
}

const void* Resource::rawData() const {
    DWORD size = 0;
    return getPtr(size);
}

std::vector<std::uint8_t> Resource::bytes() const {
    DWORD size = 0;
    const std::uint8_t* p = static_cast<const std::uint8_t*>(getPtr(size));
    return std::vector<std::uint8_t>(p, p + size);
}

void Resource::saveToFile(const tstring& path) const {
    DWORD size = 0;
    const void* p = getPtr(size);
    FileUtils::StagedFileWriter writer(path);
    writer.write(p, size);
    writer.finalize();
}

std::string Resource::errorText(const std::string& words) const {
    return (tstrings::MessageBuilder()
            << words << " (name='" << nameText << "', type='" << typeText << "')")
        .str();
}

StringResource::StringResource(WORD id, HMODULE module)
    : resource(id, MAKEINTRESOURCEW(stringTableType), module) {}

tstring StringResource::string() const {
    DWORD size = 0;
    const wchar_t* p = static_cast<const wchar_t*>(resource.getPtr(size));
    return tstring(p, size / sizeof(wchar_t));
}

tstring StringResource::string(const std::nothrow_t&, const tstring& defaultValue) const {
    try {
        return string();
    }
    BM_GUARD_CATCH
    return defaultValue;
}
