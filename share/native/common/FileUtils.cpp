#include "FileUtils.h"

namespace FileUtils {

namespace {

const tstring::size_type npos = tstring::npos;
const wchar_t separators[] = L"\\/";

}  // namespace

bool isPathSeparator(tstring::value_type c) {
    return c == L'\\' || c == L'/';
}

tstring stripTrailingSeparators(const tstring& path) {
    tstring::size_type end = path.size();
    while (end > 0 && isPathSeparator(path[end - 1])) {
        --end;
    }
    return path.substr(0, end);
}

tstring dirname(const tstring& path) {
    tstring::size_type end = path.size();
    // "dir\." names "dir" itself, so its parent is the parent of "dir".
    if (end >= 2 && path[end - 1] == L'.' && isPathSeparator(path[end - 2])) {
        end -= 2;
    }
    if (end == 0) {
        return tstring();
    }
    tstring::size_type pos = path.find_last_of(separators, end - 1);
    if (pos == npos) {
        return tstring();
    }
    while (isPathSeparator(path[pos])) {
        if (pos == 0) {
            return tstring();
        }
        --pos;
    }
    return path.substr(0, pos + 1);
}

tstring basename(const tstring& path) {
    const tstring::size_type pos = path.find_last_of(separators);
    return pos == npos ? path : path.substr(pos + 1);
}

tstring suffix(const tstring& path) {
    const tstring::size_type dot = path.rfind(L'.');
    if (dot == npos) {
        return tstring();
    }
    if (path.find_first_of(separators, dot) != npos) {
        return tstring();
    }
    // ".." is a directory reference, not an empty name with an extension.
    if (dot > 0 && path[dot - 1] == L'.' && (dot == 1 || isPathSeparator(path[dot - 2]))) {
        return tstring();
    }
    return path.substr(dot);
}

tstring replaceSuffix(const tstring& path, const tstring& newSuffix) {
    const tstring oldSuffix = suffix(path);
    return path.substr(0, path.size() - oldSuffix.size()) + newSuffix;
}

tstring removeSuffix(const tstring& path) {
    const tstring::size_type dot = path.rfind(L'.');
    const tstring::size_type sep = path.find_last_of(separators);
    if (dot == npos || (sep != npos && sep > dot)) {
        return path;
    }
    return path.substr(0, dot);
}

tstring joinPath(const tstring& a, const tstring& b) {
    if (a.empty()) {
        return b;
    }
    if (b.empty()) {
        return a;
    }
    const tstring::size_type skip = isPathSeparator(b[0]) ? 1 : 0;
    tstring result = stripTrailingSeparators(a);
    result += L'\\';
    result.append(b, skip, npos);
    return result;
}

tstring normalizePath(const tstring& path) {
    tstring result = path;
    for (wchar_t& c : result) {
        if (c == L'/') {
            c = L'\\';
        }
    }
    return tstrings::toLower(result);
}

}  // namespace FileUtils
