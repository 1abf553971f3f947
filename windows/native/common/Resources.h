#pragma once

#include <windows.h>

#include <cstdint>
#include <new>
#include <string>
#include <vector>

#include "tstrings.h"

// One resource of a loaded module. Names and types are texts or 16-bit ids
// (MAKEINTRESOURCEW), as Windows has them; a null module means the executable.
// Nothing is looked up until the data is asked for, and the data stays valid
// for as long as the module stays loaded.
class Resource {
public:
    Resource(LPCWSTR name, LPCWSTR type, HMODULE module = nullptr);
    Resource(WORD id, LPCWSTR type, HMODULE module = nullptr);

    // `name` and `type` may point into the object's own texts, so neither a
    // copy nor a move could keep them right.
    Resource(const Resource&) = delete;
    Resource& operator=(const Resource&) = delete;

    bool available() const;

    const void* getPtr(DWORD& size) const;
    DWORD size() const;
    const void* rawData() const;
    std::vector<std::uint8_t> bytes() const;

    // Replaces `path` only once every byte is written: a failure leaves an
    // existing file as it was and a missing resource touches no file at all.
    void saveToFile(const tstring& path) const;

    // "<words> (name='<name>', type='<type>')", UTF-8.
    std::string errorText(const std::string& words) const;

private:
    HRSRC find() const;
    bool isStringTable() const;

    tstring nameText;
    LPCWSTR name;
    tstring typeText;
    LPCWSTR type;
    HMODULE module;
};

// One entry of a module's string table.
class StringResource {
public:
    StringResource(WORD id, HMODULE module = nullptr);

    tstring string() const;
    // An absent entry or block, or any other failure, is logged and yields
    // `defaultValue`.
    tstring string(const std::nothrow_t&, const tstring& defaultValue) const;

private:
    Resource resource;
};
