#pragma once

#include <windows.h>

#include "tstrings.h"

// Changes the resources of an executable file on disk: BeginUpdateResourceW
// when made, UpdateResourceW for each entry, EndUpdateResourceW on commit().
// An updater that ends without commit() discards every change, so a failure
// halfway leaves the file as it was.
class ResourceUpdater {
public:
    explicit ResourceUpdater(const tstring& path);
    ~ResourceUpdater();

    ResourceUpdater(const ResourceUpdater&) = delete;
    ResourceUpdater& operator=(const ResourceUpdater&) = delete;

    // Adds or replaces one resource in the neutral language. `name` and `type`
    // are texts or MAKEINTRESOURCEW ids; Windows looks text names up in upper
    // case, so give them in upper case.
    void update(LPCWSTR type, LPCWSTR name, const void* data, DWORD size,
                WORD language = MAKELANGID(LANG_NEUTRAL, SUBLANG_NEUTRAL));

    // Writes the changes into the file.
    void commit();

private:
    tstring path;
    HANDLE handle;
};
