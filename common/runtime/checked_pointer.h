#pragma once

#include "common/runtime/error.h"

// A non-owning pointer that raises an internal error instead of dereferencing null.
template <typename T> class checked_pointer {
public:
    checked_pointer(T* pointer = nullptr) : pointer(pointer) {}

    T* operator->() const { return checked(member_access_line); }
    T& operator*() const { return *checked(member_access_line); }
    T* get() const { return checked(get_line); }

    T* raw() const { return pointer; }
    explicit operator bool() const { return pointer != nullptr; }

private:
    static constexpr int member_access_line = 20;
    static constexpr int get_line = 47;

    T* checked(int line) const {
        if (!pointer)
            throw error(error::internal, 1, 0, 3) << "Try of use NULL pointer: common/runtime/checked_pointer.h:"
                                                   << line;
        return pointer;
    }

    T* pointer;
};
