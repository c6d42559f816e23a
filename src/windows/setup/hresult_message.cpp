#include "windows/setup/hresult_message.h"

#include <cstdio>

#include "platform/com_resource.h"
#include "platform/wide_text.h"

namespace quarvel {
namespace {

// HRESULT_FROM_NT sets this bit on an NTSTATUS; ntdll's message table holds their texts.
constexpr std::uint32_t kNtStatusBit = 0x10000000;

std::string error_object_description() {
    ComPtr<IErrorInfo> info;
    if (GetErrorInfo(0, info.put()) != S_OK || !info)
        return std::string();
    UniqueBstr description;
    if (FAILED(info->GetDescription(description.put())))
        return std::string();
    return bstr_to_utf8(description.get());
}

std::string system_text(HRESULT result) {
    const auto id = static_cast<std::uint32_t>(result);
    DWORD flags = FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_IGNORE_INSERTS;
    LPCVOID source = nullptr;
    DWORD message_id = id;
    if ((id & kNtStatusBit) != 0) {
        // Belongs to the process; never freed.
        source = GetModuleHandleW(WIDE("ntdll.dll"));
        if (source == nullptr)
            return std::string();
        flags |= FORMAT_MESSAGE_FROM_HMODULE;
        message_id = id & ~kNtStatusBit;
    } else {
        flags |= FORMAT_MESSAGE_FROM_SYSTEM;
    }
    LocalPtr<WCHAR> text;
    const DWORD length = FormatMessageW(flags, source, message_id, 0,
                                        reinterpret_cast<LPWSTR>(text.put()), 0, nullptr);
    if (length == 0 || !text)
        return std::string();
    std::string narrowed = narrow_lossy(WideView(text.get(), length));
    while (!narrowed.empty() && (narrowed.back() == ' ' || narrowed.back() == '\t' ||
                                 narrowed.back() == '\r' || narrowed.back() == '\n'))
        narrowed.pop_back();
    return narrowed;
}

std::string hexadecimal(HRESULT result) {
    char text[16];
    std::snprintf(text, sizeof(text), "0x%08X", static_cast<unsigned>(result));
    return text;
}

}  // namespace

std::string hresult_message(HRESULT result) {
    std::string text = error_object_description();
    if (text.empty())
        text = system_text(result);
    if (text.empty())
        return hexadecimal(result);
    return text + " (" + hexadecimal(result) + ")";
}

Failure com_failure(std::string_view code, HRESULT result) {
    return fixed_failure(code, hresult_message(result), exit_code::internal);
}

}  // namespace quarvel
