#pragma once

#include <windows.h>

// Owns one kernel handle and closes it with CloseHandle when it ends. Move-only.
//
// Both null and INVALID_HANDLE_VALUE count as "no handle": Windows reports a
// failed open either way, and neither may be passed to CloseHandle. Test the
// holder with `if (h)` right after storing a call's result in it.
class UniqueHandle {
public:
    UniqueHandle() noexcept = default;
    explicit UniqueHandle(HANDLE handle) noexcept : handle(handle) {}
    ~UniqueHandle() { reset(); }

    UniqueHandle(UniqueHandle&& other) noexcept : handle(other.release()) {}
    UniqueHandle& operator=(UniqueHandle&& other) noexcept {
        if (this != &other) {
            reset(other.release());
        }
        return *this;
    }

    UniqueHandle(const UniqueHandle&) = delete;
    UniqueHandle& operator=(const UniqueHandle&) = delete;

    HANDLE get() const noexcept { return handle; }
    explicit operator bool() const noexcept { return isValid(handle); }

    // Gives the handle up without closing it.
    HANDLE release() noexcept {
        const HANDLE h = handle;
        handle = nullptr;
        return h;
    }

    // Closes the held handle, if any, and takes `newHandle`. A failing
    // CloseHandle is logged, never raised: this runs in destructors.
    void reset(HANDLE newHandle = nullptr) noexcept;

    // For out-parameters of Windows calls: closes the held handle and hands out
    // the address of the empty slot.
    HANDLE* put() noexcept {
        reset();
        return &handle;
    }

    void swap(UniqueHandle& other) noexcept {
        const HANDLE h = handle;
        handle = other.handle;
        other.handle = h;
    }

    static bool isValid(HANDLE h) noexcept { return h != nullptr && h != INVALID_HANDLE_VALUE; }

private:
    HANDLE handle = nullptr;
};
