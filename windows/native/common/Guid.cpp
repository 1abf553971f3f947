#include "Guid.h"

#include <objbase.h>

#include <cstring>

#include "ErrorHandling.h"

namespace {

GUID initGuid(const tstring& str) {
    GUID guid;
    const HRESULT hr = IIDFromString(str.c_str(), &guid);
    if (hr != S_OK) {
        BM_THROW_MSG("IIDFromString(" << str << ") failed");
    }
    return guid;
}

// Brings the accepted short forms (no braces, no dashes, or neither) to the
// 38-character form IIDFromString takes. Anything it cannot complete goes to
// IIDFromString as it came, so the error shows what the caller passed.
tstring normalize(const tstring& str) {
    if (str.size() == 38 && str.front() == L'{' && str.back() == L'}') {
        return str;
    }
    if (str.size() < 32) {
        return str;
    }
    tstring copy = str;
    if (str.front() != L'{' && str.back() != L'}') {
        copy = L"{" + str + L"}";
    }
    if (str.find(L'-') == tstring::npos) {
        // The 8-4-4-4-12 groups of the registry form, counted in the braced
        // copy: the opening brace, 8 digits, then each dash shifts the next
        // group one further (1 + 8, + 1 + 4, + 1 + 4, + 1 + 4). Inserted
        // from the left, each position already counts the dashes before it.
        for (const size_t pos : {9, 14, 19, 24}) {
            copy.insert(pos, 1, L'-');
        }
        if (copy.size() != 38) {
            copy = str;
        }
    }
    return copy;
}

}  // namespace

Guid::Guid() : guid() {}

Guid::Guid(const GUID& value) : guid(value) {}

Guid::Guid(const tstring& str) : guid(initGuid(normalize(str))) {}

Guid::Guid(const std::string& str) : Guid(tstring(str.begin(), str.end())) {}

tstring Guid::toString(int flags) const {
    wchar_t buffer[128] = {};
    const int n = StringFromGUID2(guid, buffer, 128);
    if (n < 3) {
        BM_THROW("StringFromGUID2() failed");
    }
    tstring reply(buffer);
    if (flags & WithoutBraces) {
        reply = reply.substr(1, reply.size() - 2);
    }
    if (flags & WithoutDashes) {
        reply = tstrings::replace(reply, L"-", L"");
    }
    if (flags & Lowercase) {
        reply = tstrings::toLower(reply);
    }
    return reply;
}

Guid Guid::generate() {
    GUID guid;
    if (CoCreateGuid(&guid) != S_OK) {
        BM_THROW("CoCreateGuid() failed");
    }
    return Guid(guid);
}

bool Guid::operator==(const Guid& other) const {
    return std::memcmp(&guid, &other.guid, sizeof(guid)) == 0;
}

bool Guid::operator<(const Guid& other) const {
    return toString() < other.toString();
}
