// The file security and reparse point controls of the test API.

#include <winsim/testing.h>

#include "files/file_paths.h"
#include "files/reparse_points.h"
#include "security/token.h"

namespace winsim {
namespace {

DWORD link_to(std::u16string_view link, std::u16string_view target, DWORD tag) {
    const auto at = host_path_for(link);
    if (!at)
        return at.error();
    const auto to = host_path_for(target);
    if (!to)
        return to.error();
    return make_link(*at, *to, tag);
}

}  // namespace

DWORD make_directory_junction(std::u16string_view link, std::u16string_view target) {
    return link_to(link, target, kTagMountPoint);
}

DWORD make_symbolic_link(std::u16string_view link, std::u16string_view target) {
    return link_to(link, target, kTagSymbolicLink);
}

DWORD set_reparse_tag(std::u16string_view path, DWORD tag) {
    const auto at = host_path_for(path);
    if (!at)
        return at.error();
    return mark_reparse_point(*at, tag);
}

}  // namespace winsim

namespace winsim {

std::string process_token_json() {
    return token_to_json(process_token_object()->snapshot()).dump();
}

}  // namespace winsim
