// oleaut32's error information: CreateErrorInfo, SetErrorInfo and GetErrorInfo. Error objects
// are free-threaded, so they may be used outside an apartment.

#include "com/error_info.h"

#include <winsim/testing.h>

#include <string>
#include <utility>

#include "com/com_runtime.h"
#include "machine/faults.h"

namespace winsim {
namespace {

class ErrorInfoObject final : public CountedObject<ErrorInfoObject, IErrorInfo, false>,
                              public ICreateErrorInfo {
  public:
    // Both bases' IUnknown methods resolve here.
    HRESULT QueryInterface(REFIID riid, void** object) override {
        if (object == nullptr)
            return E_POINTER;
        *object = nullptr;
        if (riid == IID_IUnknown || riid == IID_IErrorInfo)
            *object = static_cast<IErrorInfo*>(this);
        else if (riid == IID_ICreateErrorInfo)
            *object = static_cast<ICreateErrorInfo*>(this);
        else
            return E_NOINTERFACE;
        AddRef();
        return S_OK;
    }
    ULONG AddRef() override { return CountedObject::AddRef(); }
    ULONG Release() override { return CountedObject::Release(); }

    HRESULT GetGUID(GUID* guid) override {
        if (guid == nullptr)
            return E_INVALIDARG;
        *guid = guid_;
        return S_OK;
    }
    HRESULT GetSource(BSTR* source) override { return hand_out(source_, source); }
    HRESULT GetDescription(BSTR* description) override {
        if (auto entry = enter_method("IErrorInfo::GetDescription", false); entry.failure) {
            if (description != nullptr)
                *description = nullptr;
            return *entry.failure;
        }
        return hand_out(description_, description);
    }
    HRESULT GetHelpFile(BSTR* help_file) override { return hand_out(help_file_, help_file); }
    HRESULT GetHelpContext(DWORD* help_context) override {
        if (help_context == nullptr)
            return E_INVALIDARG;
        *help_context = help_context_;
        return S_OK;
    }

    HRESULT SetGUID(REFGUID guid) override {
        guid_ = guid;
        return S_OK;
    }
    HRESULT SetSource(LPOLESTR source) override { return keep(source, source_); }
    HRESULT SetDescription(LPOLESTR description) override {
        return keep(description, description_);
    }
    HRESULT SetHelpFile(LPOLESTR help_file) override { return keep(help_file, help_file_); }
    HRESULT SetHelpContext(DWORD help_context) override {
        help_context_ = help_context;
        return S_OK;
    }

  private:
    static HRESULT hand_out(const std::u16string& text, BSTR* out) {
        if (out == nullptr)
            return E_INVALIDARG;
        *out = make_bstr(text);
        return *out == nullptr ? E_OUTOFMEMORY : S_OK;
    }
    static HRESULT keep(LPOLESTR text, std::u16string& field) {
        field = text != nullptr ? std::u16string(text) : std::u16string();
        return S_OK;
    }

    GUID guid_{};
    std::u16string source_;
    std::u16string description_;
    std::u16string help_file_;
    DWORD help_context_ = 0;
};

// The thread's error object; the slot holds one reference, given back when the thread ends.
struct ThreadErrorSlot {
    IErrorInfo* info = nullptr;
    ~ThreadErrorSlot() { reset(nullptr); }
    void reset(IErrorInfo* replacement) {
        if (info != nullptr)
            info->Release();
        info = replacement;
    }
};

thread_local ThreadErrorSlot thread_error;

}  // namespace

void set_thread_error_description(std::u16string_view description) {
    auto* object = new ErrorInfoObject;
    object->SetDescription(const_cast<LPOLESTR>(std::u16string(description).c_str()));
    thread_error.reset(object);
}

}  // namespace winsim

HRESULT CreateErrorInfo(ICreateErrorInfo** info) {
    if (info == nullptr)
        return E_INVALIDARG;
    *info = nullptr;
    if (auto fault = winsim::take_fault("CreateErrorInfo"))
        return static_cast<HRESULT>(fault->value);
    *info = new winsim::ErrorInfoObject;
    return S_OK;
}

HRESULT SetErrorInfo(ULONG, IErrorInfo* info) {
    if (auto fault = winsim::take_fault("SetErrorInfo"))
        return static_cast<HRESULT>(fault->value);
    if (info != nullptr)
        info->AddRef();
    winsim::thread_error.reset(info);
    return S_OK;
}

HRESULT GetErrorInfo(ULONG, IErrorInfo** info) {
    if (info == nullptr)
        return E_INVALIDARG;
    *info = nullptr;
    if (auto fault = winsim::take_fault("GetErrorInfo"))
        return static_cast<HRESULT>(fault->value);
    if (winsim::thread_error.info == nullptr)
        return S_FALSE;
    *info = std::exchange(winsim::thread_error.info, nullptr);
    return S_OK;
}
