#pragma once

#include <windows.h>

#include <string>
#include <type_traits>

#include "UniqueHandle.h"
#include "tstrings.h"

// Owns one reference to a dynamic-link library and releases it with
// FreeLibrary when it ends. Move-only.
//
// Take note of which constructor a call picks: a builder is a path to load,
// a plain tstring names a module that must already be in the process.
class Dll {
public:
    // Selects the Windows system directory as the library's folder, so that a
    // file planted next to the executable or in the current directory can
    // never stand in for a system library.
    struct System {};

    // Loads the library at the given path (searched for as LoadLibraryW does
    // when it is a bare name).
    explicit Dll(const tstrings::MessageBuilder& libPath);

    // Loads the library of the given file name from the system directory.
    Dll(const tstrings::MessageBuilder& libName, const System& tag);

    // Takes a further reference to a module that is already loaded, so it stays
    // loaded for as long as this object lives.
    explicit Dll(const tstring& moduleName);

    Dll(Dll&& other) noexcept = default;
    Dll& operator=(Dll&& other) noexcept = default;
    Dll(const Dll&) = delete;
    Dll& operator=(const Dll&) = delete;

    // The address of the exported function `name` (UTF-8); null when it is
    // missing and `raiseIfMissing` is false. Use bind() for a callable pointer.
    void* getFunction(const std::string& name, bool raiseIfMissing = true) const;

    // The exported function `name` as a pointer of the function type `Fn`;
    // raises when it is missing. Prefer BM_DLL_BIND, which takes `Fn` from
    // the function's own declaration.
    template <class Fn>
    Fn* bind(const std::string& name) const {
        static_assert(std::is_function<Fn>::value, "Fn must be a function type");
        return reinterpret_cast<Fn*>(getFunction(name, true));
    }

    const tstring& getPath() const noexcept { return path; }

    typedef UniqueModule Handle;

private:
    tstring path;
    Handle handle;
};

// Binds the library function `function` at run time with the type of its
// declaration in the platform headers, so the project never needs an import
// library for it: BM_DLL_BIND(dll, MsiCloseHandle) yields a pointer of type
// decltype(::MsiCloseHandle)*. Header macros such as MsiGetProperty expand to
// the exported W name before the name is looked up.
#define BM_DLL_BIND(dll, function) BM_DLL_BIND_EXPANDED_(dll, function)
#define BM_DLL_BIND_EXPANDED_(dll, function) (dll).bind<decltype(::function)>(#function)
