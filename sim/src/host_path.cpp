#include "host_path.h"

#include "machine.h"
#include "wtf8.h"

namespace winsim {
namespace {

bool is_separator(char c) {
    return c == '\\' || c == '/';
}

std::string with_forward_slashes(std::string text) {
    for (auto& c : text)
        if (c == '\\')
            c = '/';
    return text;
}

}  // namespace

std::string host_path_from_windows(std::u16string_view path) {
    const std::string text = wtf8_from_utf16(path);
    const bool has_drive =
        text.size() >= 2 && text[1] == ':' &&
        ((text[0] >= 'A' && text[0] <= 'Z') || (text[0] >= 'a' && text[0] <= 'z'));
    if (!has_drive)
        return with_forward_slashes(text);
    const char drive = static_cast<char>(text[0] & ~0x20);
    std::string rest = with_forward_slashes(text.substr(2));
    while (!rest.empty() && is_separator(rest.front()))
        rest.erase(0, 1);
    if (drive == 'Z')
        return "/" + rest;
    std::string root = machine_directory() + "/" + std::string(1, drive);
    return rest.empty() ? root : root + "/" + rest;
}

}  // namespace winsim
