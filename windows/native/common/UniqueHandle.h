#pragma once

#include <windows.h>

#include <msi.h>

#include <cstdlib>
#include <type_traits>

// Owns one resource and releases it when it ends. Move-only.
//
// `Traits` says what is owned: `type`, the value of an empty owner
// (`empty()`), which values hold something (`isValid`) and how one is given
// back (`close`). A failing release is logged, never raised: it runs in
// destructors. Test the owner with `if (h)` right after storing a call's
// result in it.
template <class Traits>
class UniqueResource {
public:
    typedef typename Traits::type pointer;

    UniqueResource() noexcept = default;
    explicit UniqueResource(pointer value) noexcept : value(value) {}
    ~UniqueResource() { reset(); }

    UniqueResource(UniqueResource&& other) noexcept : value(other.release()) {}
    UniqueResource& operator=(UniqueResource&& other) noexcept {
        // Moving an owner into itself must keep what it holds.
        if (this != &other) {
            reset(other.release());
        }
        return *this;
    }

    UniqueResource(const UniqueResource&) = delete;
    UniqueResource& operator=(const UniqueResource&) = delete;

    pointer get() const noexcept { return value; }
    explicit operator bool() const noexcept { return Traits::isValid(value); }

    // Gives the resource up without releasing it.
    pointer release() noexcept {
        const pointer old = value;
        value = Traits::empty();
        return old;
    }

    // Releases the held resource, if any, and takes `newValue`.
    void reset(pointer newValue = Traits::empty()) noexcept {
        const pointer old = value;
        value = newValue;
        if (Traits::isValid(old) && old != newValue) {
            Traits::close(old);
        }
    }

    // For out-parameters of Windows calls: releases the held resource and
    // hands out the address of the empty slot.
    pointer* put() noexcept {
        reset();
        return &value;
    }

    void swap(UniqueResource& other) noexcept {
        const pointer mine = value;
        value = other.value;
        other.value = mine;
    }

    static bool isValid(pointer v) noexcept { return Traits::isValid(v); }

private:
    pointer value = Traits::empty();
};

namespace bm_detail {

// Windows reports a failed open with null or with INVALID_HANDLE_VALUE,
// depending on the call; neither may be passed to a close function.
struct HandleValues {
    typedef HANDLE type;
    static HANDLE empty() noexcept { return nullptr; }
    static bool isValid(HANDLE h) noexcept { return h != nullptr && h != INVALID_HANDLE_VALUE; }
};

template <class T>
struct PointerValues {
    typedef T* type;
    static T* empty() noexcept { return nullptr; }
    static bool isValid(T* p) noexcept { return p != nullptr; }
};

struct KernelHandleTraits : HandleValues {
    static void close(HANDLE h) noexcept;
};

struct FindHandleTraits : HandleValues {
    static void close(HANDLE h) noexcept;
};

struct ModuleTraits : PointerValues<std::remove_pointer<HMODULE>::type> {
    static void close(HMODULE module) noexcept;
};

void localFree(void* p) noexcept;

template <class T>
struct LocalMemoryTraits : PointerValues<T> {
    static void close(T* p) noexcept { localFree(p); }
};

template <class T>
struct CrtMemoryTraits : PointerValues<T> {
    static void close(T* p) noexcept { std::free(p); }
};

struct MappedViewTraits : PointerValues<const void> {
    static void close(const void* view) noexcept;
};

// 0 is no installer handle.
struct MsiHandleTraits {
    typedef MSIHANDLE type;
    static MSIHANDLE empty() noexcept { return 0; }
    static bool isValid(MSIHANDLE h) noexcept { return h != 0; }
    static void close(MSIHANDLE h) noexcept;
};

}  // namespace bm_detail

typedef UniqueResource<bm_detail::KernelHandleTraits> UniqueHandle;
typedef UniqueResource<bm_detail::FindHandleTraits> UniqueFindHandle;
typedef UniqueResource<bm_detail::ModuleTraits> UniqueModule;
// Memory the system allocated for the caller to give back with LocalFree.
template <class T>
using UniqueLocalPtr = UniqueResource<bm_detail::LocalMemoryTraits<T>>;
// Memory the C runtime allocated for the caller to give back with free.
template <class T>
using UniqueCrtPtr = UniqueResource<bm_detail::CrtMemoryTraits<T>>;
typedef UniqueResource<bm_detail::MappedViewTraits> UniqueMappedView;
typedef UniqueResource<bm_detail::MsiHandleTraits> UniqueMsiHandle;
