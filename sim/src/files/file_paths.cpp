#include "files/file_paths.h"

#include <dirent.h>
#include <fcntl.h>
#include <locale.h>
#include <sys/stat.h>
#include <unistd.h>
#include <cwctype>
#include <filesystem>
#include <mutex>
#include <optional>
#include <vector>

#include "machine/machine.h"
#include "machine/wtf8.h"

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

// Resolved once for each machine directory a process uses: every file call needs it.
std::string machine_root() {
    static std::mutex mutex;
    static std::string named;
    static std::string resolved;
    const std::string directory = machine_directory();
    std::lock_guard lock(mutex);
    if (directory != named) {
        resolved = canonical_host(directory);
        named = directory;
    }
    return resolved;
}

// The current directory in Windows form: inside a drive folder of the machine, that drive;
// anywhere else, Z: and the host path.
WindowsLocation current_directory() {
    std::error_code unknown;
    const std::string cwd = std::filesystem::current_path(unknown).string();
    const std::string machine = machine_root();
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

// NTFS compares names through an upper-case table of the UTF-16 units; the C library's
// Unicode case mapping stands in for it (surrogates are left as they are, as in NTFS).
char16_t upper_unit(char16_t unit) {
    static const locale_t unicode = newlocale(LC_CTYPE_MASK, "C.UTF-8", static_cast<locale_t>(0));
    if (unit >= 0xD800 && unit <= 0xDFFF)
        return unit;
    if (unicode == static_cast<locale_t>(0))
        return unit < 0x80 ? upper(unit) : unit;
    const auto mapped = towupper_l(static_cast<wint_t>(unit), unicode);
    return mapped <= 0xFFFF ? static_cast<char16_t>(mapped) : unit;
}

bool exists_as_is(const std::string& host) {
    struct stat status {};
    return ::lstat(host.c_str(), &status) == 0;
}

// The entry of `folder` whose name equals `name` but for case; the smallest such name in byte
// order when the host has several, so that every process picks the same one.
std::optional<std::string> entry_ignoring_case(const std::string& folder,
                                               std::u16string_view name) {
    DIR* listing = ::opendir(folder.empty() ? "/" : folder.c_str());
    if (listing == nullptr)
        return std::nullopt;
    std::optional<std::string> found;
    while (const dirent* entry = ::readdir(listing)) {
        const std::string_view entry_name(entry->d_name);
        if (entry_name == "." || entry_name == "..")
            continue;
        if (!same_file_name(utf16_from_wtf8(entry_name), name))
            continue;
        if (!found || entry_name < *found)
            found = std::string(entry_name);
    }
    ::closedir(listing);
    return found;
}

// The components placed under a drive folder, each matched to the name on disk. Once a
// component is missing, the rest are taken as given: nothing below it exists.
std::string place_on_host(const std::string& folder,
                          const std::vector<std::u16string>& components) {
    std::string exact = folder;
    for (const auto& component : components) {
        exact += '/';
        exact += wtf8_from_utf16(component);
    }
    if (components.empty() || exists_as_is(exact))
        return exact.empty() ? std::string("/") : exact;
    std::string host = folder;
    bool matching = true;
    for (const auto& component : components) {
        std::string name = wtf8_from_utf16(component);
        if (matching && !exists_as_is(host + '/' + name)) {
            if (auto stored = entry_ignoring_case(host, component))
                name = std::move(*stored);
            else
                matching = false;
        }
        host += '/';
        host += name;
    }
    return host;
}

// The drive letter whose folder holds `host`, if any.
std::optional<char> machine_drive_of(const std::string& host, const std::string& machine) {
    if (host.size() < machine.size() + 2 || !host.starts_with(machine) ||
        host[machine.size()] != '/')
        return std::nullopt;
    const char letter = host[machine.size() + 1];
    const bool ends = host.size() == machine.size() + 2 || host[machine.size() + 2] == '/';
    if (letter < 'A' || letter > 'Z' || letter == static_cast<char>(kHostDrive) || !ends)
        return std::nullopt;
    return letter;
}

}  // namespace

bool same_file_name(std::u16string_view left, std::u16string_view right) {
    if (left.size() != right.size())
        return false;
    for (std::size_t k = 0; k < left.size(); ++k)
        if (upper_unit(left[k]) != upper_unit(right[k]))
            return false;
    return true;
}

std::expected<std::string, DWORD> host_path_for(std::u16string_view windows_path) {
    const auto location = locate(windows_path);
    if (!location)
        return std::unexpected(location.error());
    const auto folder = drive_folder(location->drive);
    if (!folder)
        return std::unexpected(static_cast<DWORD>(ERROR_PATH_NOT_FOUND));
    return place_on_host(*folder, location->components);
}

std::string drive_root_of(const std::string& resolved_host_path) {
    const std::string machine = machine_root();
    if (const auto letter = machine_drive_of(resolved_host_path, machine))
        return machine + '/' + *letter;
    return "/";
}

std::u16string windows_form_of(const std::string& resolved_host_path) {
    const std::string machine = machine_root();
    std::u16string form;
    std::string rest = resolved_host_path;
    if (const auto letter = machine_drive_of(resolved_host_path, machine)) {
        form = std::u16string(1, static_cast<char16_t>(*letter)) + u":";
        rest = resolved_host_path.substr(machine.size() + 2);
    } else {
        form = std::u16string(1, kHostDrive) + u":";
    }
    for (char& c : rest)
        if (c == '/')
            c = '\\';
    form += utf16_from_wtf8(rest);
    if (form.size() == 2)
        form += u'\\';
    return form;
}

DWORD missing_file_error(const std::string& host_path) {
    const auto folder = std::filesystem::path(host_path).parent_path();
    struct stat status {};
    if (::stat(folder.c_str(), &status) == 0 && S_ISDIR(status.st_mode))
        return ERROR_FILE_NOT_FOUND;
    return ERROR_PATH_NOT_FOUND;
}

bool is_empty_directory(int directory_fd) {
    // A descriptor of its own, for the listing to close.
    const int listed = ::openat(directory_fd, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (listed < 0)
        return false;
    DIR* listing = ::fdopendir(listed);
    if (listing == nullptr) {
        ::close(listed);
        return false;
    }
    bool empty = true;
    while (const dirent* entry = ::readdir(listing)) {
        const std::string_view name(entry->d_name);
        if (name != "." && name != "..") {
            empty = false;
            break;
        }
    }
    ::closedir(listing);
    return empty;
}

bool is_empty_directory(const std::string& host_path) {
    const int directory = ::open(host_path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (directory < 0)
        return false;
    const bool empty = is_empty_directory(directory);
    ::close(directory);
    return empty;
}

}  // namespace winsim
