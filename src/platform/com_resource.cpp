#include "platform/com_resource.h"

#include "platform/wide_text.h"

namespace quarvel {

UniqueBstr allocate_bstr(std::string_view utf8) {
    const WideString wide = to_wide(utf8);
    return UniqueBstr(SysAllocStringLen(wide.data(), static_cast<UINT>(wide.size())));
}

std::string bstr_to_utf8(BSTR text) {
    if (text == nullptr)
        return std::string();
    // The length, not a terminating zero, ends a BSTR.
    return narrow_lossy(WideView(text, SysStringLen(text)));
}

}  // namespace quarvel
