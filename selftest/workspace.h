#pragma once
// The throwaway workspace of one self-test: a private folder under a temporary folder with the
// locations a policy names (cwd, a writable root, a readable root holding a secret and the
// self-test's copy, a runtime directory) and a sibling folder outside the workspace holding
// another secret. Everything made is recorded and removed again, newest first.

#include <string>
#include <string_view>
#include <vector>

#include "cli/failure.h"

namespace quarvel::selftest {

struct Workspace {
    std::string root;
    std::string cwd;
    std::string writable_root;
    std::string readable_root;
    std::string readable_secret;
    std::string sibling;
    std::string sibling_secret;
    std::string runtime_dir;
    std::string program_copy;       // the self-test's copy, in the readable root
    std::vector<std::string> made;  // every file and folder made, in order
};

// Makes the root "<parent>\quarvel-selftest-<16 hex digits>" with a list of its own, open only
// to `user_sid`, SYSTEM and Administrators (so that what the checks find shut is shut by the
// sandbox, not merely by where the temporary folder happens to be), and everything in it.
// `program` is copied into the readable root. Failures: selftest_workspace_failed (the Windows
// error in the message); what was made before it stays recorded in `workspace`.
Result<void> prepare_workspace(Workspace& workspace, std::string_view parent,
                               std::string_view program, std::string_view user_sid);

// A folder or a file inside the workspace's root (`relative` uses backslashes), recorded.
Result<std::string> make_folder(Workspace& workspace, std::string_view relative);
Result<std::string> make_file(Workspace& workspace, std::string_view relative,
                              std::string_view contents);

// Removes what was recorded, newest first; returns each path that could not be removed, with
// the Windows error, for the report.
std::vector<std::string> remove_workspace(Workspace& workspace);

// "<folder>\<name>", with one backslash between them.
std::string join_path(std::string_view folder, std::string_view name);

}  // namespace quarvel::selftest
