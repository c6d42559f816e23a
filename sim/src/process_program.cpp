#include "process_program.h"

#include <sys/stat.h>
#include <unistd.h>
#include <cstdlib>
#include <vector>

#include <winsim/process.h>

#include "host_path.h"

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

std::vector<std::string> search_folders() {
    std::vector<std::string> folders{"."};
    const char* path = std::getenv("PATH");
    std::string list = path != nullptr ? path : "/usr/bin:/bin";
    std::size_t start = 0;
    while (start <= list.size()) {
        const auto end = list.find(':', start);
        const auto folder =
            list.substr(start, end == std::string::npos ? std::string::npos : end - start);
        if (!folder.empty())
            folders.push_back(folder);
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

}  // namespace

std::variant<std::string, DWORD> resolve_program(std::u16string_view program) {
    const std::string host = host_path_from_windows(program);
    if (host.empty())
        return static_cast<DWORD>(ERROR_FILE_NOT_FOUND);
    std::vector<std::string> candidates;
    if (host.find('/') != std::string::npos) {
        candidates = spellings(host);
    } else {
        for (const auto& folder : search_folders())
            for (const auto& name : spellings(folder + "/" + host))
                candidates.push_back(name);
    }
    for (const auto& candidate : candidates) {
        if (!exists(candidate))
            continue;
        const DWORD error = check_runnable(candidate);
        if (error != ERROR_SUCCESS)
            return error;
        return candidate;
    }
    if (host.find('/') != std::string::npos && !is_directory(folder_of(host)))
        return static_cast<DWORD>(ERROR_PATH_NOT_FOUND);
    return static_cast<DWORD>(ERROR_FILE_NOT_FOUND);
}

std::variant<std::string, DWORD> resolve_directory(std::u16string_view directory) {
    const std::string host = host_path_from_windows(directory);
    if (host.empty() || !is_directory(host))
        return static_cast<DWORD>(267);  // ERROR_DIRECTORY
    return host;
}

}  // namespace winsim
