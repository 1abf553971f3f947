#include "tstrings.h"

#include <windows.h>

#include <cstdarg>
#include <cwctype>
#include <stdexcept>

#include "ErrorHandling.h"

namespace tstrings {

std::string toMultiByte(const tstring& str, unsigned codePage) {
    const int n = WideCharToMultiByte(codePage, 0, str.data(), static_cast<int>(str.size()),
                                      nullptr, 0, nullptr, nullptr);
    if (n < 0) {
        BM_THROW("Unexpected reply from WideCharToMultiByte()");
    }
    if (n == 0) {
        return std::string();
    }
    std::string result(static_cast<size_t>(n), '\0');
    if (n != WideCharToMultiByte(codePage, 0, str.data(), static_cast<int>(str.size()), &result[0],
                                 n, nullptr, nullptr)) {
        BM_THROW("Unexpected reply from WideCharToMultiByte()");
    }
    return result;
}

tstring fromMultiByte(const std::string& str, unsigned codePage) {
    const int n = MultiByteToWideChar(codePage, MB_ERR_INVALID_CHARS, str.data(),
                                      static_cast<int>(str.size()), nullptr, 0);
    if (n < 0) {
        BM_THROW("Unexpected reply from MultiByteToWideChar()");
    }
    if (n == 0) {
        return tstring();
    }
    tstring result(static_cast<size_t>(n), L'\0');
    if (n != MultiByteToWideChar(codePage, MB_ERR_INVALID_CHARS, str.data(),
                                 static_cast<int>(str.size()), &result[0], n)) {
        BM_THROW("Unexpected reply from MultiByteToWideChar()");
    }
    return result;
}

std::string toUtf8(const tstring& str) {
    return toMultiByte(str, CP_UTF8);
}
std::string toUtf8(const std::string& acpStr) {
    return toUtf8(fromACP(acpStr));
}
tstring fromUtf8(const std::string& str) {
    return fromMultiByte(str, CP_UTF8);
}
std::string toACP(const tstring& str) {
    return toMultiByte(str, CP_ACP);
}
tstring fromACP(const std::string& str) {
    return fromMultiByte(str, CP_ACP);
}
tstring toWide(const tstring& str) {
    return str;
}
tstring toWide(const std::string& utf8Str) {
    return fromUtf8(utf8Str);
}

tstring format(const wchar_t* fmt, ...) {
    if (!fmt) {
        throw std::invalid_argument("Destination buffer can't be NULL");
    }
    tstring result;
    int n;
    do {
        result.resize(result.size() + 256);
        va_list args;
        va_start(args, fmt);
        n = _vsnwprintf_s(&result[0], result.size(), _TRUNCATE, fmt, args);
        va_end(args);
    } while (n == -1);
    result.resize(static_cast<size_t>(n));
    return result;
}

tstring toLower(const tstring& str) {
    tstring result = str;
    for (auto& c : result) {
        c = static_cast<wchar_t>(tolower(c));
    }
    return result;
}

bool equals(const tstring& a, const tstring& b, CompareType ct) {
    if (ct == IgnoreCase) {
        return toLower(a) == toLower(b);
    }
    return a == b;
}

bool startsWith(const tstring& str, const tstring& prefix, CompareType ct) {
    if (str.size() < prefix.size()) {
        return false;
    }
    return equals(str.substr(0, prefix.size()), prefix, ct);
}

bool endsWith(const tstring& str, const tstring& suffix, CompareType ct) {
    if (str.size() < suffix.size()) {
        return false;
    }
    return equals(str.substr(str.size() - suffix.size()), suffix, ct);
}

void split(tstring_array& dst, const tstring& str, const tstring& delimiter, SplitType st) {
    if (str.empty() || delimiter.empty()) {
        return;
    }
    size_t pos = 0;
    for (size_t p = str.find(delimiter); p != tstring::npos; p = str.find(delimiter, pos)) {
        if (!(st == SkipEmpty && p == pos)) {
            dst.push_back(str.substr(pos, p - pos));
        }
        pos = p + delimiter.size();
    }
    if (!(st == SkipEmpty && pos == str.size())) {
        dst.push_back(str.substr(pos));
    }
}

tstring_array split(const tstring& str, const tstring& delimiter, SplitType st) {
    tstring_array result;
    split(result, str, delimiter, st);
    return result;
}

tstring trim(const tstring& str, const tstring& chars) {
    const size_t first = str.find_first_not_of(chars);
    if (first == tstring::npos) {
        return tstring();
    }
    const size_t last = str.find_last_not_of(chars);
    return str.substr(first, last - first + 1);
}

tstring replace(const tstring& str, const tstring& search, const tstring& replacement) {
    tstring result = str;
    if (search.empty()) {
        return result;
    }
    for (size_t pos = result.find(search); pos != tstring::npos;
         pos = result.find(search, pos + replacement.size())) {
        result.replace(pos, search.size(), replacement);
    }
    return result;
}

MessageBuilder::MessageBuilder(const char* utf8) {
    stream << fromUtf8(utf8 ? utf8 : "");
}
MessageBuilder::MessageBuilder(const std::string& utf8) {
    stream << fromUtf8(utf8);
}
MessageBuilder::MessageBuilder(const tstring& str) {
    stream << str;
}

}  // namespace tstrings
