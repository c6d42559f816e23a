#include "platform/windows_path.h"

namespace quarvel {
namespace {

constexpr WCHAR kBackslash = WIDE('\\');
constexpr WCHAR kSlash = WIDE('/');

bool is_any_separator(WCHAR c) {
    return c == kBackslash || c == kSlash;
}

bool is_drive_letter(WCHAR c) {
    return (c >= WIDE('A') && c <= WIDE('Z')) || (c >= WIDE('a') && c <= WIDE('z'));
}

// The leading characters that name where a path lives, and how the rest is read.
struct PathPrefix {
    std::size_t length = 0;  // 0: no prefix
    bool is_drive = false;   // C: -- the only prefix that needs a separator to be absolute
    bool verbatim = false;   // \\?\ -- only '\' separates components after it
};

// Whether `path` begins with `pattern`, where a '\' in the pattern also matches '/'.
bool starts_with_loosely(WideView path, std::string_view pattern) {
    if (path.size() < pattern.size())
        return false;
    for (std::size_t i = 0; i < pattern.size(); ++i) {
        const WCHAR expected = static_cast<WCHAR>(pattern[i]);
        if (expected == kBackslash ? !is_any_separator(path[i]) : path[i] != expected)
            return false;
    }
    return true;
}

// Length of the component at the start of `rest`: up to the next separator or the end.
std::size_t component_length(WideView rest, bool verbatim) {
    std::size_t length = 0;
    while (length < rest.size() &&
           !(verbatim ? rest[length] == kBackslash : is_any_separator(rest[length])))
        ++length;
    return length;
}

bool drive_at(WideView text) {
    return text.size() >= 2 && is_drive_letter(text[0]) && text[1] == WIDE(':');
}

// \\?\UNC\server\share, \\?\C:, \\?\anything.
PathPrefix verbatim_prefix(WideView path) {
    constexpr std::size_t kStart = 4;  // \\?\ .
    WideView rest = path.substr(kStart);
    if (starts_with_loosely(rest, "UNC\\")) {
        rest.remove_prefix(4);
        const std::size_t server = component_length(rest, true);
        std::size_t length = kStart + 4 + server;
        if (server < rest.size()) {
            const std::size_t share = component_length(rest.substr(server + 1), true);
            if (share > 0)
                length += 1 + share;
        }
        return {length, false, true};
    }
    if (drive_at(rest) && (rest.size() == 2 || rest[2] == kBackslash))
        return {kStart + 2, false, true};
    return {kStart + component_length(rest, true), false, true};
}

// \\server\share: both parts must be present.
PathPrefix unc_prefix(WideView path) {
    const WideView rest = path.substr(2);
    const std::size_t server = component_length(rest, false);
    if (server == 0 || server >= rest.size())
        return {};
    const std::size_t share = component_length(rest.substr(server + 1), false);
    if (share == 0)
        return {};
    return {2 + server + 1 + share, false, false};
}

PathPrefix prefix_of(WideView path) {
    if (starts_with_loosely(path, "\\\\?\\"))
        return verbatim_prefix(path);
    if (starts_with_loosely(path, "\\\\.\\"))
        return {4 + component_length(path.substr(4), false), false, false};
    if (starts_with_loosely(path, "\\\\"))
        return unc_prefix(path);
    if (drive_at(path))
        return {2, true, false};
    return {};
}

bool is_separator_for(const PathPrefix& prefix, WCHAR c) {
    return prefix.verbatim ? c == kBackslash : is_any_separator(c);
}

}  // namespace

bool is_absolute_windows_path(WideView path) {
    const PathPrefix prefix = prefix_of(path);
    if (prefix.length == 0)
        return false;
    if (!prefix.is_drive)
        return true;
    return path.size() > prefix.length && is_any_separator(path[prefix.length]);
}

std::optional<WideString> parent_directory(WideView path) {
    const PathPrefix prefix = prefix_of(path);
    std::size_t head = prefix.length;  // prefix and root: what every ancestor keeps
    if (head < path.size() && is_separator_for(prefix, path[head]))
        ++head;

    std::size_t end = path.size();
    while (end > head && is_separator_for(prefix, path[end - 1]))
        --end;
    if (end == head)
        return std::nullopt;

    std::size_t last = end;  // start of the last component
    while (last > head && !is_separator_for(prefix, path[last - 1]))
        --last;
    std::size_t parent_end = last;
    while (parent_end > head && is_separator_for(prefix, path[parent_end - 1]))
        --parent_end;
    return WideString(path.substr(0, parent_end));
}

WideString join_path(WideView directory, WideView name) {
    WideString joined(directory);
    const bool bare_drive = directory.size() == 2 && drive_at(directory);
    if (!directory.empty() && !bare_drive && !is_any_separator(directory.back()))
        joined += kBackslash;
    joined += name;
    return joined;
}

}  // namespace quarvel
