#include "windows/runner/workspace_locations.h"

#include <algorithm>

namespace quarvel {
namespace {

WCHAR fold_ascii(WCHAR c) {
    return c >= u'A' && c <= u'Z' ? static_cast<WCHAR>(c + (u'a' - u'A')) : c;
}

bool same_ignoring_ascii_case(WideView a, WideView b) {
    return std::ranges::equal(a, b, [](WCHAR x, WCHAR y) { return fold_ascii(x) == fold_ascii(y); });
}

void append_unless_listed(std::vector<WideString>& list, const WideString& entry) {
    const bool listed = std::ranges::any_of(
        list, [&](const WideString& earlier) { return same_ignoring_ascii_case(earlier, entry); });
    if (!listed)
        list.push_back(entry);
}

}  // namespace

WorkspaceLocations workspace_locations(const SandboxPolicy& policy) {
    WorkspaceLocations locations;
    append_unless_listed(locations.writable, policy.cwd);
    for (const auto& root : policy.writable_roots)
        append_unless_listed(locations.writable, root);
    for (const auto& root : policy.readable_roots)
        append_unless_listed(locations.readable, root);
    return locations;
}

}  // namespace quarvel
