#include "processes/process_program.h"

#include <sys/stat.h>
#include <unistd.h>
#include <cstdlib>
#include <cstring>
#include <expected>
#include <filesystem>
#include <optional>
#include <vector>

#include <winsim/process.h>

#include "files/file_paths.h"
#include "machine/ascii_text.h"
#include "machine/wtf8.h"
#include "processes/system_directory.h"

extern char** environ;

namespace winsim {
namespace {

bool exists(const std::string& path) {
    struct stat status {};
    return ::stat(path.c_str(), &status) == 0;
}

bool is_directory(const std::string& path) {
    struct stat status {};
    return ::stat(path.c_str(), &status) == 0 && S_ISDIR(status.st_mode);
}

std::string folder_of(const std::string& path) {
    const auto slash = path.rfind('/');
    if (slash == std::string::npos)
        return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

bool has_extension(const std::string& path) {
    const auto slash = path.rfind('/');
    const auto dot = path.rfind('.');
    return dot != std::string::npos && (slash == std::string::npos || dot > slash);
}

// Windows appends ".exe" to a program name without an extension; host programs have none,
// so the name is tried as given first.
std::vector<std::string> spellings(const std::string& path) {
    std::vector<std::string> names{path};
    if (!has_extension(path))
        names.push_back(path + ".exe");
    return names;
}

// The variable named PATH in any letter case, as Windows finds it ("Path" in an account's
// profile environment).
std::optional<std::string> search_path_variable() {
    for (char** entry = environ; *entry != nullptr; ++entry) {
        const char* equals = std::strchr(*entry, '=');
        if (equals == nullptr || equals == *entry)
            continue;
        if (equal_ignoring_ascii_case(std::string_view(*entry, equals), "PATH"))
            return std::string(equals + 1);
    }
    return std::nullopt;
}

// Where CreateProcess looks for a bare program name, in its documented order: the folder the
// calling program was loaded from, the current directory, the system directory, the Windows
// directory, then PATH (the 16-bit system directory has no place here).
std::vector<std::string> search_folders() {
    std::vector<std::string> folders;
    std::error_code unknown;
    const auto own = std::filesystem::read_symlink("/proc/self/exe", unknown);
    if (!unknown)
        folders.push_back(own.parent_path().string());
    folders.push_back(".");
    for (const auto& windows_folder : {system_directory(), windows_directory()}) {
        if (windows_folder.empty())
            continue;
        if (auto host = host_path_for(windows_folder))
            folders.push_back(std::move(*host));
    }
    const auto path = search_path_variable();
    if (!path) {
        for (const char* folder : {"/usr/bin", "/bin"})
            folders.emplace_back(folder);
        return folders;
    }
    // A Windows search path (Path of an account's profile environment) lists Windows folders
    // between semicolons; a process started from a shell has the host's, between colons.
    const bool windows_form =
        path->find(';') != std::string::npos || path->find('\\') != std::string::npos;
    const char separator = windows_form ? ';' : ':';
    std::size_t start = 0;
    while (start <= path->size()) {
        const auto end = path->find(separator, start);
        const auto folder =
            path->substr(start, end == std::string::npos ? std::string::npos : end - start);
        if (!folder.empty()) {
            if (!windows_form)
                folders.push_back(folder);
            else if (auto host = host_path_for(utf16_from_wtf8(folder)))
                folders.push_back(std::move(*host));
        }
        if (end == std::string::npos)
            break;
        start = end + 1;
    }
    return folders;
}

DWORD check_runnable(const std::string& path) {
    if (is_directory(path))
        return ERROR_ACCESS_DENIED;
    if (::access(path.c_str(), X_OK) != 0)
        return ERROR_BAD_EXE_FORMAT;
    return ERROR_SUCCESS;
}

// A bare name is looked up in PATH; a path in host form (starting with '/') is taken as it is;
// anything else is a Windows path, mapped as the file calls map it.
bool is_bare_name(std::u16string_view program) {
    return program.find_first_of(u"\\/:") == std::u16string_view::npos;
}

std::expected<std::string, DWORD> host_form(std::u16string_view path) {
    if (!path.empty() && path.front() == u'/')
        return wtf8_from_utf16(path);
    return host_path_for(path);
}

}  // namespace

std::variant<std::string, DWORD> resolve_program(std::u16string_view program) {
    if (program.empty())
        return static_cast<DWORD>(ERROR_FILE_NOT_FOUND);
    std::vector<std::string> candidates;
    std::string host;
    if (is_bare_name(program)) {
        host = wtf8_from_utf16(program);
        for (const auto& folder : search_folders())
            for (const auto& name : spellings(folder + "/" + host))
                candidates.push_back(name);
    } else {
        const auto mapped = host_form(program);
        if (!mapped)
            return mapped.error();
        host = *mapped;
        candidates = spellings(host);
    }
    for (const auto& candidate : candidates) {
        if (!exists(candidate))
            continue;
        const DWORD error = check_runnable(candidate);
        if (error != ERROR_SUCCESS)
            return error;
        return candidate;
    }
    if (!is_bare_name(program) && !is_directory(folder_of(host)))
        return static_cast<DWORD>(ERROR_PATH_NOT_FOUND);
    return static_cast<DWORD>(ERROR_FILE_NOT_FOUND);
}

std::variant<std::string, DWORD> resolve_directory(std::u16string_view directory) {
    const auto host = host_form(directory);
    if (!host || !is_directory(*host))
        return static_cast<DWORD>(267);  // ERROR_DIRECTORY
    return *host;
}

}  // namespace winsim
