#include <iterator>
#include <string>

#include "platform/win32.h"
#include "selftest/probe/file_attempts.h"
#include "selftest/probe/sandbox_checks.h"

namespace quarvel::selftest {
namespace {

WideString inside(const std::string& folder, const std::string& name) {
    std::string path = folder;
    if (!path.empty() && path.back() != '\\')
        path += '\\';
    return to_wide(path + name);
}

// Create, write, read and delete a file of its own where the policy lets the command write.
void writable_location(std::vector<CheckResult>& checks, const std::string& id,
                       const std::string& where, const std::string& folder,
                       const std::string& name) {
    const WideString file = inside(folder, name);
    checks.push_back(attempt("files." + id + ".create", "create a file in " + where,
                             Expectation::allowed, try_create_file(file, "quarvel")));
    checks.push_back(attempt("files." + id + ".write", "write to a file in " + where,
                             Expectation::allowed, try_append_to_file(file, " self-test")));
    checks.push_back(attempt("files." + id + ".read", "read a file in " + where,
                             Expectation::allowed, try_read_file(file)));
    checks.push_back(attempt("files." + id + ".delete", "delete a file in " + where,
                             Expectation::allowed, try_delete_file(file)));
}

// A new file where the command must not write; one that got made anyway is removed again.
CheckResult refused_file(const std::string& id, const std::string& where, const std::string& folder,
                         const std::string& name) {
    const WideString file = inside(folder, name);
    const std::uint32_t error = try_create_file(file, "quarvel");
    if (error == 0)
        try_delete_file(file);
    return attempt("files." + id + ".write", "write in " + where, Expectation::denied, error);
}

}  // namespace

std::vector<CheckResult> file_checks(const ProbeRequest& request, std::string_view unique) {
    const std::string name = "quarvel-selftest-" + std::string(unique) + ".txt";
    std::vector<CheckResult> checks;
    writable_location(checks, "cwd", "cwd", request.cwd, name);
    writable_location(checks, "writable_root", "the writable root", request.writable_root, name);

    checks.push_back(
        refused_file("readable_root", "the readable root", request.readable_root, name));
    checks.push_back(
        refused_file("runtime_dir", "the runtime directory", request.runtime_dir, name));
    checks.push_back(
        refused_file("sibling", "the sibling folder outside the workspace", request.sibling, name));
    checks.push_back(
        refused_file("other_workspace", "the other run's cwd", request.other_workspace, name));
    if (request.user_profile.empty())
        checks.push_back(not_reached("files.user_profile.write", "write in the user's profile",
                                     Expectation::denied, "the user has no profile folder"));
    else
        checks.push_back(
            refused_file("user_profile", "the user's profile", request.user_profile, name));
    // The root of the system drive lets every signed-in user add folders, not files: a folder
    // is what a command would get there.
    const WideString folder =
        inside(request.system_root, "quarvel-selftest-" + std::string(unique));
    const std::uint32_t made = try_create_directory(folder);
    if (made == 0)
        try_remove_directory(folder);
    checks.push_back(attempt("files.system_root.write",
                             "write in the system drive's root (a new folder)", Expectation::denied,
                             made));

    checks.push_back(attempt("files.sibling_secret.read", "read the sibling folder's secret",
                             Expectation::denied, try_read_file(to_wide(request.sibling_secret))));
    checks.push_back(attempt("files.state_dir.read", "list the state directory",
                             Expectation::denied, try_list_directory(to_wide(request.state_dir))));
    checks.push_back(attempt("files.credentials.read", "read credentials.json", Expectation::denied,
                             try_read_file(to_wide(request.credentials))));
    checks.push_back(attempt("files.readable_secret.read", "read the readable root's secret",
                             Expectation::allowed,
                             try_read_file(to_wide(request.readable_secret))));
    return checks;
}

std::vector<CheckResult> temporary_folder_checks(std::string_view unique) {
    const std::string name = "quarvel-selftest-" + std::string(unique) + ".tmp";
    std::vector<CheckResult> checks;
    const struct {
        const char* variable;
        const char* id;
        const char* title;
        Expectation expected;
    } folders[] = {
        {"TEMP", "temp.write", "create and delete a file in %TEMP%", Expectation::allowed},
        {"APPDATA", "appdata.write", "create and delete a file in %APPDATA%", Expectation::observe},
    };
    for (const auto& folder : folders) {
        WCHAR value[32768] = {};
        const DWORD length = GetEnvironmentVariableW(to_wide(folder.variable).c_str(), value,
                                                     static_cast<DWORD>(std::size(value)));
        if (length == 0 || length >= std::size(value)) {
            checks.push_back(not_reached(folder.id, folder.title, folder.expected,
                                         std::string(folder.variable) + " is not set"));
            continue;
        }
        const WideString file = inside(narrow_lossy(WideView(value, length)), name);
        std::uint32_t error = try_create_file(file, "quarvel");
        if (error == 0)
            error = try_delete_file(file);
        checks.push_back(attempt(folder.id, folder.title, folder.expected, error));
    }
    return checks;
}

}  // namespace quarvel::selftest
