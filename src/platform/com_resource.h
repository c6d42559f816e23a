#pragma once
// Owners of COM resources: one reference to an interface (given back with Release), one BSTR
// (SysFreeString) and one VARIANT (VariantClear). Like every owner, releasing keeps the
// thread's last error.

#include <string>
#include <string_view>

#include "platform/unique_resource.h"

namespace quarvel {

template <class Interface>
struct ComReferenceTraits {
    using Value = Interface*;
    static Value empty() { return nullptr; }
    static bool is_valid(Value pointer) { return pointer != nullptr; }
    static void close(Value pointer) { pointer->Release(); }
};
// One counted reference to a COM interface. `put()` lends the slot to a call that hands out an
// interface; QueryInterface and CoCreateInstance take it as `put_void()`.
template <class Interface>
class ComPtr : public UniqueResource<ComReferenceTraits<Interface>> {
  public:
    using UniqueResource<ComReferenceTraits<Interface>>::UniqueResource;
    Interface* operator->() const { return this->get(); }
    void** put_void() { return reinterpret_cast<void**>(this->put()); }
};

struct BstrTraits {
    using Value = BSTR;
    static Value empty() { return nullptr; }
    static bool is_valid(Value text) { return text != nullptr; }
    static void close(Value text) { SysFreeString(text); }
};
using UniqueBstr = UniqueResource<BstrTraits>;

// A VARIANT that a call fills in, and whatever it holds then (a string, an interface, an array
// with its elements), released by VariantClear. It stays where it is: calls write into it.
class OwnedVariant {
  public:
    OwnedVariant() { VariantInit(&value_); }
    ~OwnedVariant() { clear(); }
    OwnedVariant(const OwnedVariant&) = delete;
    OwnedVariant& operator=(const OwnedVariant&) = delete;

    const VARIANT& get() const { return value_; }
    // For out-parameters: releases what is held, then lends the variant to the call.
    VARIANT* put() {
        clear();
        return &value_;
    }

  private:
    // What VariantClear refuses (a type it does not know, a locked array) is given up: the
    // variant starts empty again either way.
    void clear() {
        const DWORD last_error = GetLastError();
        if (FAILED(VariantClear(&value_)))
            VariantInit(&value_);
        SetLastError(last_error);
    }

    VARIANT value_;
};

// A BSTR holding the UTF-8 text as UTF-16; an empty owner when Windows has no memory for it.
UniqueBstr allocate_bstr(std::string_view utf8);

// The text of a BSTR, all SysStringLen characters of it, as UTF-8 (unpaired surrogates become
// U+FFFD); null reads as "".
std::string bstr_to_utf8(BSTR text);

}  // namespace quarvel
