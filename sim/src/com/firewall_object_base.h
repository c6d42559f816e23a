#pragma once
// What the firewall's simulated objects share: IDispatch left to scripting clients, the
// write permission, method names for fault injection, and handing out interface pointers.

#include <winsim/netfw.h>

#include <algorithm>
#include <array>
#include <string>

#include "com/com_runtime.h"

namespace winsim {

inline constexpr HRESULT kRuleNotFound = HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND);
// An address list the firewall cannot read: STATUS_INVALID_PARAMETER as an HRESULT.
inline constexpr HRESULT kInvalidAddress = static_cast<HRESULT>(0xD000000Du);

// Changing the firewall takes what the firewall service demands: an administrator's token
// with the group enabled, that is elevated.
bool caller_may_change_firewall();

inline std::string method_name(const char* interface_name, const char* method) {
    return std::string(interface_name) + "::" + method;
}

// IDispatch is there for scripting clients; the program binds to the method tables.
template <class Self, class Interface>
class FirewallObject : public CountedObject<Self, Interface, true> {
  public:
    // QueryInterface without counting a call (CoCreateInstance's own question): IUnknown,
    // IDispatch and the interfaces of `Self::kOffered`, all answered with the one method table.
    HRESULT query(REFIID riid, void** object) {
        if (object == nullptr)
            return E_POINTER;
        *object = nullptr;
        const bool offered =
            riid == IID_IUnknown || riid == IID_IDispatch ||
            std::ranges::any_of(Self::kOffered, [&](const IID& iid) { return riid == iid; });
        if (!offered)
            return E_NOINTERFACE;
        this->AddRef();
        *object = static_cast<Interface*>(this);
        return S_OK;
    }

    HRESULT GetTypeInfoCount(UINT*) override { return E_NOTIMPL; }
    HRESULT GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
    HRESULT GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override { return E_NOTIMPL; }
    HRESULT Invoke(DISPID, REFIID, LCID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*, UINT*) override {
        return E_NOTIMPL;
    }

  protected:
    // QueryInterface as every firewall object answers it: an injected fault first, then
    // query, then the null-pointer quirk.
    HRESULT counted_query(const char* interface_name, REFIID riid, void** object) {
        const auto entry = enter_method(method_name(interface_name, "QueryInterface"), true);
        if (object != nullptr)
            *object = nullptr;
        if (entry.failure)
            return *entry.failure;
        const HRESULT asked = query(riid, object);
        if (SUCCEEDED(asked) && entry.quirk) {
            this->Release();
            *object = nullptr;
        }
        return FAILED(asked) ? method_failed(asked) : asked;
    }
};

// Hands out `found` as the answer of a method that returns an interface pointer: null with
// the quirk, which the caller must still check.
template <class Out>
HRESULT hand_out(Out* found, const MethodEntry& entry, Out** out) {
    if (entry.quirk) {
        found->Release();
        *out = nullptr;
        return S_OK;
    }
    *out = found;
    return S_OK;
}

}  // namespace winsim
