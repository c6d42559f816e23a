#include "selftest/workspace.h"

#include "platform/unique_resource.h"
#include "platform/whole_file.h"
#include "platform/win32.h"
#include "selftest/host_environment.h"
#include "windows/security/secure_random.h"

namespace quarvel::selftest {
namespace {

constexpr const char* kCode = "selftest_workspace_failed";
constexpr std::string_view kSecret = "quarvel self-test secret: a command must not read this\n";

Failure failed(std::string_view what, std::string_view path, std::uint32_t error) {
    return formatted_failure(kCode, exit_code::io, "Could not ", what, " ", path,
                             ". Windows error ", error, ".");
}

// The root with a protected list: the user, SYSTEM and Administrators, inherited below.
Result<void> make_private_root(Workspace& workspace, std::string_view user_sid) {
    const std::string sddl = "D:P(A;OICI;0x1F01FF;;;" + std::string(user_sid) +
                             ")(A;OICI;0x1F01FF;;;SY)(A;OICI;0x1F01FF;;;BA)";
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (!ConvertStringSecurityDescriptorToSecurityDescriptorW(to_wide(sddl).c_str(), 1, &descriptor,
                                                              nullptr))
        return std::unexpected(failed("describe the access list of", workspace.root,
                                      static_cast<std::uint32_t>(GetLastError())));
    LocalPtr<void> owned(descriptor);
    SECURITY_ATTRIBUTES attributes{sizeof attributes, descriptor, FALSE};
    if (!CreateDirectoryW(to_wide(workspace.root).c_str(), &attributes))
        return std::unexpected(
            failed("create", workspace.root, static_cast<std::uint32_t>(GetLastError())));
    workspace.made.push_back(workspace.root);
    return {};
}

}  // namespace

std::string join_path(std::string_view folder, std::string_view name) {
    std::string path(folder);
    if (!path.empty() && path.back() != '\\')
        path += '\\';
    return path + std::string(name);
}

Result<std::string> make_folder(Workspace& workspace, std::string_view relative) {
    const std::string path = join_path(workspace.root, relative);
    if (!CreateDirectoryW(to_wide(path).c_str(), nullptr))
        return std::unexpected(failed("create", path, static_cast<std::uint32_t>(GetLastError())));
    workspace.made.push_back(path);
    return path;
}

Result<std::string> make_file(Workspace& workspace, std::string_view relative,
                              std::string_view contents) {
    const std::string path = join_path(workspace.root, relative);
    if (auto written = write_whole_file(to_wide(path), contents); !written)
        return std::unexpected(failed("write", path, written.error()));
    workspace.made.push_back(path);
    return path;
}

Result<void> prepare_workspace(Workspace& workspace, std::string_view parent,
                               std::string_view program, std::string_view user_sid) {
    auto suffix = secure_random_hex(8);
    if (!suffix)
        return std::unexpected(std::move(suffix.error()));
    workspace.root = join_path(parent, "quarvel-selftest-" + *suffix);
    if (auto root = make_private_root(workspace, user_sid); !root)
        return root;
    const struct {
        std::string Workspace::*field;
        const char* relative;
    } folders[] = {{&Workspace::cwd, "cwd"},
                   {&Workspace::writable_root, "writable"},
                   {&Workspace::readable_root, "readable"},
                   {&Workspace::sibling, "sibling"},
                   {&Workspace::runtime_dir, "runtime"}};
    for (const auto& folder : folders) {
        auto made = make_folder(workspace, folder.relative);
        if (!made)
            return std::unexpected(std::move(made.error()));
        workspace.*folder.field = *made;
    }
    auto readable_secret = make_file(workspace, "readable\\secret.txt", kSecret);
    if (!readable_secret)
        return std::unexpected(std::move(readable_secret.error()));
    workspace.readable_secret = *readable_secret;
    auto sibling_secret = make_file(workspace, "sibling\\secret.txt", kSecret);
    if (!sibling_secret)
        return std::unexpected(std::move(sibling_secret.error()));
    workspace.sibling_secret = *sibling_secret;

    const std::string copy = join_path(workspace.readable_root, "quarvel-sandbox-selftest.exe");
    if (!CopyFileW(to_wide(program).c_str(), to_wide(copy).c_str(), TRUE))
        return std::unexpected(
            failed("copy the self-test to", copy, static_cast<std::uint32_t>(GetLastError())));
    workspace.made.push_back(copy);
    workspace.program_copy = copy;
    return {};
}

std::vector<std::string> remove_workspace(Workspace& workspace) {
    std::vector<std::string> left;
    for (auto it = workspace.made.rbegin(); it != workspace.made.rend(); ++it) {
        const WideString path = to_wide(*it);
        const bool removed =
            folder_exists(*it) ? RemoveDirectoryW(path.c_str()) : DeleteFileW(path.c_str());
        if (!removed)
            left.push_back(*it + " (Windows error " + std::to_string(GetLastError()) + ")");
    }
    workspace.made.clear();
    return left;
}

}  // namespace quarvel::selftest
