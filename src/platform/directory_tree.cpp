#include "platform/directory_tree.h"

#include <vector>

#include "platform/directory_listing.h"
#include "platform/file_attributes.h"
#include "platform/win32.h"
#include "platform/windows_path.h"

namespace quarvel {
namespace {

// Removes one entry that is not a directory to descend into: a file, or a link of either kind.
bool remove_leaf(const WideString& path, DWORD attributes) {
    if ((attributes & FILE_ATTRIBUTE_DIRECTORY) != 0)
        return RemoveDirectoryW(path.c_str()) != FALSE;  // a link to a directory
    if ((attributes & FILE_ATTRIBUTE_READONLY) != 0)
        (void)SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);
    return DeleteFileW(path.c_str()) != FALSE;
}

bool is_real_directory(DWORD attributes) {
    return (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0 &&
           (attributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0;
}

// Removes the files and links in `directory` and appends its subdirectories to `pending`;
// returns how many entries could not be removed.
std::size_t clear_files(const WideString& directory, std::vector<WideString>& pending) {
    // Nothing there to list, or nothing listable: the directory's own removal tells.
    std::size_t left = 0;
    for (const auto& found : list_directory(join_path(directory, WIDE("*"))).entries) {
        WideString entry = join_path(directory, found.cFileName);
        if (is_real_directory(found.dwFileAttributes))
            pending.push_back(std::move(entry));
        else if (!remove_leaf(entry, found.dwFileAttributes))
            ++left;
    }
    return left;
}

// The root as its folder lists it: a link shows as itself, where asking the path for its
// attributes could lead through a junction into what it points to.
struct RootListing {
    enum class State { listed, missing, unlistable } state;
    DWORD attributes = 0;
};

RootListing list_root(const WideString& root) {
    const DirectoryListing itself = list_directory(root);
    if (itself.entries.empty())
        return {is_not_found_error(itself.error) ? RootListing::State::missing
                                                 : RootListing::State::unlistable};
    return {RootListing::State::listed, itself.entries.front().dwFileAttributes};
}

}  // namespace

bool is_existing_directory(WideView path) {
    const auto attributes = attributes_following_links(path);
    return attributes && (*attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

std::size_t remove_directory_contents(WideView directory) {
    const WideString root(directory);
    const RootListing itself = list_root(root);
    if (itself.state != RootListing::State::listed)
        return itself.state == RootListing::State::missing ? 0 : 1;
    if (!is_real_directory(itself.attributes))
        return 1;  // a link, or a file, stands where the directory was: it is not entered
    // Directories in the order they were found; each is removed after everything found below
    // it, that is in reverse order, the root excepted.
    std::vector<WideString> directories{root};
    std::size_t left = 0;
    for (std::size_t next = 0; next < directories.size(); ++next) {
        const WideString current = directories[next];
        left += clear_files(current, directories);
    }
    for (auto it = directories.rbegin(); it + 1 != directories.rend(); ++it)
        if (!RemoveDirectoryW(it->c_str()))
            ++left;
    return left;
}

std::size_t remove_directory_tree(WideView directory) {
    const WideString root(directory);
    const RootListing itself = list_root(root);
    if (itself.state != RootListing::State::listed)
        return itself.state == RootListing::State::missing ? 0 : 1;
    if (!is_real_directory(itself.attributes))
        return remove_leaf(root, itself.attributes) ? 0 : 1;
    std::size_t left = remove_directory_contents(root);
    if (!RemoveDirectoryW(root.c_str()) && !is_not_found_error(GetLastError()))
        ++left;
    return left;
}

std::expected<void, std::uint32_t> create_directory_tree(WideView directory) {
    // Up from the directory to the nearest ancestor that exists or can be made...
    std::vector<WideString> missing;
    WideString current(directory);
    while (!current.empty()) {
        if (CreateDirectoryW(current.c_str(), nullptr))
            break;
        const DWORD error = GetLastError();
        if (!is_not_found_error(error)) {
            // Already there (ERROR_ALREADY_EXISTS, or ERROR_ACCESS_DENIED for a drive's root).
            if (is_existing_directory(current))
                break;
            return std::unexpected(static_cast<std::uint32_t>(error));
        }
        missing.push_back(current);
        auto parent = parent_directory(current);
        if (!parent || parent->empty())
            return std::unexpected(static_cast<std::uint32_t>(error));
        current = std::move(*parent);
    }
    // ...then down again, making each missing one.
    for (auto it = missing.rbegin(); it != missing.rend(); ++it) {
        if (CreateDirectoryW(it->c_str(), nullptr))
            continue;
        const DWORD error = GetLastError();
        if (is_existing_directory(*it))
            continue;
        return std::unexpected(static_cast<std::uint32_t>(error));
    }
    return {};
}

}  // namespace quarvel
