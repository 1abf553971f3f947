#pragma once

#include <new>
#include <type_traits>
#include <utility>

// Holds a T that is built in place and never destroyed, for objects that the
// logger may reach from other objects' static destructors. Declared as a
// function-local static, it is also built before its first use whatever the
// order of static construction.
template <class T>
class NoDestructor {
public:
    static_assert(!std::is_trivially_destructible<T>::value,
                  "a T without a destructor needs no NoDestructor");

    template <class... Args>
    explicit NoDestructor(Args&&... args) {
        new (storage) T(std::forward<Args>(args)...);
    }

    NoDestructor(const NoDestructor&) = delete;
    NoDestructor& operator=(const NoDestructor&) = delete;

    T* get() { return std::launder(reinterpret_cast<T*>(storage)); }
    T& operator*() { return *get(); }
    T* operator->() { return get(); }

private:
    alignas(T) unsigned char storage[sizeof(T)];
};
