#include "file_paths.h"

#include <sys/stat.h>
#include <unistd.h>
#include <filesystem>
#include <optional>
#include <vector>

#include "machine.h"
#include "wtf8.h"

namespace winsim {
namespace {

constexpr char16_t kHostDrive = u'Z';

bool is_separator(char16_t c, bool verbatim) {
    return c == u'\\' || (!verbatim && c == u'/');
}

bool is_letter(char16_t c) {
    return (c >= u'A' && c <= u'Z') || (c >= u'a' && c <= u'z');
}

char16_t upper(char16_t letter) {
    return letter >= u'a' ? static_cast<char16_t>(letter - 32) : letter;
}

// A path as drive plus components, before it is placed on the host.
struct WindowsLocation {
    char16_t drive = kHostDrive;
    std::vector<std::u16string> components;
};

bool is_forbidden_in_name(char16_t c) {
    return c < 0x20 || std::u16string_view(u"<>:\"|?*").find(c) != std::u16string_view::npos;
}

// Appends the components of `text`, resolving "." and ".." (never above the root). Names from
// the program are checked; the host's own directory names are taken as they are.
DWORD append_components(WindowsLocation& location, std::u16string_view text, bool verbatim,
                        bool check_names = true) {
    std::size_t start = 0;
    while (start <= text.size()) {
        std::size_t end = start;
        while (end < text.size() && !is_separator(text[end], verbatim))
            ++end;
        const std::u16string_view part = text.substr(start, end - start);
        if (part == u"..") {
            if (!location.components.empty())
                location.components.pop_back();
        } else if (!part.empty() && part != u".") {
            for (const char16_t c : part)
                if (check_names && is_forbidden_in_name(c))
                    return ERROR_INVALID_NAME;
            location.components.emplace_back(part);
        }
        start = end + 1;
    }
    return ERROR_SUCCESS;
}

std::string canonical_host(const std::string& path) {
    std::error_code ignored;
    const auto canonical = std::filesystem::weakly_canonical(path, ignored);
    return canonical.empty() ? path : canonical.string();
}

// The current directory in Windows form: inside a drive folder of the machine, that drive;
// anywhere else, Z: and the host path.
WindowsLocation current_directory() {
    std::error_code unknown;
    const std::string cwd = std::filesystem::current_path(unknown).string();
    const std::string machine = canonical_host(machine_directory());
    WindowsLocation location;
    std::string rest = cwd;
    if (cwd.size() >= machine.size() + 2 && cwd.starts_with(machine + "/") &&
        (cwd.size() == machine.size() + 2 || cwd[machine.size() + 2] == '/')) {
        const char letter = cwd[machine.size() + 1];
        if (letter >= 'A' && letter <= 'Z') {
            location.drive = static_cast<char16_t>(letter);
            rest = cwd.substr(machine.size() + 2);
        }
    }
    append_components(location, utf16_from_wtf8(rest), false, false);
    return location;
}

std::optional<std::string> drive_folder(char16_t drive) {
    if (drive == kHostDrive)
        return std::string();
    const std::string folder = machine_directory() + "/" + static_cast<char>(drive);
    if (drive == u'C') {
        std::error_code ignored;
        std::filesystem::create_directories(folder, ignored);
    }
    struct stat status {};
    if (::stat(folder.c_str(), &status) != 0 || !S_ISDIR(status.st_mode))
        return std::nullopt;
    return folder;
}

std::expected<WindowsLocation, DWORD> locate(std::u16string_view path) {
    if (path.empty())
        return std::unexpected(static_cast<DWORD>(ERROR_PATH_NOT_FOUND));
    WindowsLocation location;
    std::u16string_view rest = path;
    bool verbatim = false;
    if (path.starts_with(u"\\\\?\\")) {
        // Only the verbatim form of a drive path has a place here.
        rest.remove_prefix(4);
        if (rest.size() < 2 || !is_letter(rest[0]) || rest[1] != u':' ||
            (rest.size() > 2 && rest[2] != u'\\'))
            return std::unexpected(static_cast<DWORD>(ERROR_PATH_NOT_FOUND));
        verbatim = true;
        location.drive = upper(rest[0]);
        rest.remove_prefix(2);
    } else if (path.size() >= 2 && is_separator(path[0], false) && is_separator(path[1], false)) {
        // UNC shares and \\.\ devices are not simulated.
        return std::unexpected(static_cast<DWORD>(ERROR_PATH_NOT_FOUND));
    } else if (path.size() >= 2 && is_letter(path[0]) && path[1] == u':') {
        location.drive = upper(path[0]);
        rest.remove_prefix(2);
        const bool drive_relative = rest.empty() || !is_separator(rest[0], false);
        if (drive_relative) {
            // Windows keeps a current directory per drive; here only the current drive has one.
            const WindowsLocation cwd = current_directory();
            if (cwd.drive == location.drive)
                location = cwd;
        }
    } else if (is_separator(path[0], false)) {
        location.drive = current_directory().drive;
    } else {
        location = current_directory();
    }
    if (const DWORD error = append_components(location, rest, verbatim); error != ERROR_SUCCESS)
        return std::unexpected(error);
    return location;
}

}  // namespace

std::expected<std::string, DWORD> host_path_for(std::u16string_view windows_path) {
    const auto location = locate(windows_path);
    if (!location)
        return std::unexpected(location.error());
    const auto folder = drive_folder(location->drive);
    if (!folder)
        return std::unexpected(static_cast<DWORD>(ERROR_PATH_NOT_FOUND));
    std::string host = *folder;
    for (const auto& component : location->components)
        host += "/" + wtf8_from_utf16(component);
    return host.empty() ? std::string("/") : host;
}

DWORD missing_file_error(const std::string& host_path) {
    const auto folder = std::filesystem::path(host_path).parent_path();
    struct stat status {};
    if (::stat(folder.c_str(), &status) == 0 && S_ISDIR(status.st_mode))
        return ERROR_FILE_NOT_FOUND;
    return ERROR_PATH_NOT_FOUND;
}

}  // namespace winsim
