#include "windows/runner/runtime_separation.h"

#include <algorithm>

#include "platform/windows_path.h"

namespace quarvel {
namespace {

WCHAR fold_ascii(WCHAR c) {
    return c >= u'A' && c <= u'Z' ? static_cast<WCHAR>(c + (u'a' - u'A')) : c;
}

bool same_text(WideView a, WideView b) {
    return std::ranges::equal(a, b,
                              [](WCHAR x, WCHAR y) { return fold_ascii(x) == fold_ascii(y); });
}

WideView without_trailing_separator(WideView path) {
    while (!path.empty() && (path.back() == u'\\' || path.back() == u'/'))
        path.remove_suffix(1);
    return path;
}

// `inner` is `outer` or lies below it.
bool is_within(WideView inner, WideView outer) {
    inner = without_trailing_separator(inner);
    outer = without_trailing_separator(outer);
    if (inner.size() < outer.size() || !same_text(inner.substr(0, outer.size()), outer))
        return false;
    return inner.size() == outer.size() || inner[outer.size()] == u'\\';
}

}  // namespace

bool is_separate_from_workspace(WideView runtime, const std::vector<WideString>& workspace) {
    if (!parent_directory(runtime))  // a drive or share root holds everything on it
        return false;
    return std::ranges::none_of(workspace, [&](const WideString& location) {
        return is_within(runtime, location) || is_within(location, runtime);
    });
}

}  // namespace quarvel
