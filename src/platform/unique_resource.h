#pragma once
// Move-only owners of Windows resources: one alias per release function. Releasing keeps the
// thread's last error, so an owner going out of scope between a failing call and the
// failure report cannot change the number that is reported.

#include <utility>

#include "platform/win32.h"

namespace quarvel {

template <class Traits>
class UniqueResource {
  public:
    using Value = typename Traits::Value;

    UniqueResource() = default;
    explicit UniqueResource(Value value) : value_(value) {}
    ~UniqueResource() { reset(); }

    UniqueResource(UniqueResource&& other) noexcept : value_(other.release()) {}
    UniqueResource& operator=(UniqueResource&& other) noexcept {
        if (this != &other)
            reset(other.release());
        return *this;
    }
    UniqueResource(const UniqueResource&) = delete;
    UniqueResource& operator=(const UniqueResource&) = delete;

    Value get() const { return value_; }
    bool valid() const { return Traits::is_valid(value_); }
    explicit operator bool() const { return valid(); }

    // Gives up ownership without releasing.
    Value release() { return std::exchange(value_, Traits::empty()); }

    void reset(Value value = Traits::empty()) {
        const Value old = std::exchange(value_, value);
        if (Traits::is_valid(old)) {
            const DWORD last_error = GetLastError();
            Traits::close(old);
            SetLastError(last_error);
        }
    }

    // For out-parameters: releases what is held, then lends the slot to the call.
    Value* put() {
        reset();
        return &value_;
    }

  private:
    Value value_ = Traits::empty();
};

inline bool is_valid_handle(HANDLE handle) {
    return handle != nullptr && handle != INVALID_HANDLE_VALUE;
}

struct KernelHandleTraits {
    using Value = HANDLE;
    static Value empty() { return nullptr; }
    // Both null and INVALID_HANDLE_VALUE mean "no handle", whichever a call uses.
    static bool is_valid(Value handle) { return is_valid_handle(handle); }
    static void close(Value handle) { CloseHandle(handle); }
};
using UniqueHandle = UniqueResource<KernelHandleTraits>;

template <class T>
struct LocalMemoryTraits {
    using Value = T*;
    static Value empty() { return nullptr; }
    static bool is_valid(Value memory) { return memory != nullptr; }
    static void close(Value memory) {
        LocalFree(const_cast<void*>(static_cast<const void*>(memory)));
    }
};
// Memory that Windows allocated for the caller and that LocalFree releases.
template <class T>
using LocalPtr = UniqueResource<LocalMemoryTraits<T>>;

struct DesktopTraits {
    using Value = HDESK;
    static Value empty() { return nullptr; }
    static bool is_valid(Value desktop) { return desktop != nullptr; }
    static void close(Value desktop) { CloseDesktop(desktop); }
};
// A desktop that CreateDesktopW made; released with CloseDesktop.
using UniqueDesktop = UniqueResource<DesktopTraits>;

struct FindTraits {
    using Value = HANDLE;
    static Value empty() { return INVALID_HANDLE_VALUE; }
    static bool is_valid(Value find) { return is_valid_handle(find); }
    static void close(Value find) { FindClose(find); }
};
// A listing that FindFirstFileW started; released with FindClose.
using UniqueFind = UniqueResource<FindTraits>;

}  // namespace quarvel
