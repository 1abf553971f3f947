#pragma once

#include "tstrings.h"

// Pure string work on paths: nothing here touches the file system. Both
// separators are accepted on input; whatever is composed uses the back slash.
namespace FileUtils {

bool isPathSeparator(tstring::value_type c);

// An empty path stays empty; a root such as "C:\" loses its separator too.
tstring stripTrailingSeparators(const tstring& path);

// "C:\a\b" -> "C:\a", "C:\a\b\" -> "C:\a\b", "C:\a\." -> "C:", "C:\" -> "C:";
// empty for a bare name and for a name right below the root ("\name").
tstring dirname(const tstring& path);

// The part after the last separator: empty for a path ending with one.
tstring basename(const tstring& path);

// The extension with its dot ("a\b.txt" -> ".txt"); empty for "..", for a
// dot in a directory name and when there is no dot. A name that starts with
// a dot is all extension ("a\.hidden" -> ".hidden").
tstring suffix(const tstring& path);

tstring replaceSuffix(const tstring& path, const tstring& newSuffix = tstring());

// Cuts the text from the last dot of the last path element on.
tstring removeSuffix(const tstring& path);

// Joins with exactly one back slash between the parts; an empty part yields
// the other one unchanged.
tstring joinPath(const tstring& a, const tstring& b);

// A form for comparing paths: back slashes only, lower case.
tstring normalizePath(const tstring& path);

// Grows a path one part at a time: PathBuilder() << tempDir << L"main.msi".
class PathBuilder {
public:
    PathBuilder() = default;
    explicit PathBuilder(const tstring& start) : path(start) {}

    PathBuilder& operator<<(const tstring& part) {
        path = joinPath(path, part);
        return *this;
    }

    operator tstring() const { return path; }
    const tstring& str() const { return path; }

private:
    tstring path;
};

// A directory named by a base directory and a path relative to it.
struct DirectoryPair {
    tstring base;
    tstring path;

    tstring directory() const { return joinPath(base, path); }
};

}  // namespace FileUtils
