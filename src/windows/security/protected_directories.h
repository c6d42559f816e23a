#pragma once
// The fixed access lists of the program's own directories: the state directory that setup
// keeps its files in, and the runtime directory a command runs in.

#include <string_view>

#include "cli/failure.h"
#include "platform/wide_text.h"
#include "platform/win32.h"
#include "windows/security/pinned_path.h"

namespace quarvel {

// Gives the state directory exactly three entries, full access inherited by everything in it,
// for the owner (SID text), Administrators and SYSTEM, and stops inheritance from its parent;
// the sandbox group gets nothing. Then checks that `group_sid` can be copied. Failures: those
// of sid_from_string for the owner, protect_directory's with code state_acl_failed, and
// copy_sid's. The caller has already refused a state directory that is a link, and holds it
// pinned: the list is written through its final path.
Result<void> protect_state_directory(const PinnedPath& directory, std::string_view owner_sid,
                                     PSID group_sid);

// Refuses a runtime directory that is a junction or symbolic link, then gives it exactly four
// entries inherited by everything in it: owner, Administrators and SYSTEM full access, the
// sandbox group read and execute; inheritance from its parent stops. The directory is held
// open without delete sharing from the check until the list is written, through its final
// path (pinned_path.h). Failures: io_error "Could not inspect command runtime directory",
// reparse_path_rejected "Command runtime directory cannot be a symbolic link.",
// sid_from_string's, protect_directory's with code runtime_acl_failed.
Result<void> protect_runtime_directory(WideView directory, std::string_view owner_sid,
                                       PSID group_sid);

// Gives a command's temporary directory inside the runtime directory a list of its own: owner,
// Administrators and SYSTEM full access, the sandbox group and the run's capability SID modify,
// inherited by everything in it, nothing from the runtime directory. A list of its own keeps the
// next run's list of the runtime directory from being carried into it (and into whatever the
// command put there). Failures as protect_runtime_directory's.
Result<void> protect_command_temp_directory(WideView directory, std::string_view owner_sid,
                                            PSID group_sid, PSID capability_sid);

}  // namespace quarvel
