#pragma once
// What the self-test learns about the machine and the user it runs as.

#include <optional>
#include <string>

#include "cli/failure.h"

namespace quarvel::selftest {

struct HostIdentity {
    std::string user_sid;
    std::string logon_sid;  // "" when the token has none
};

// From this process's token. Failure: selftest_identity_failed, or the token reader's.
Result<HostIdentity> host_identity();

// This program's own path. Failure: selftest_identity_failed.
Result<std::string> own_program_path();

// The folder for temporary files (GetTempPathW), without its final backslash.
Result<std::string> temporary_folder();

// An environment variable's value; none when it is unset or empty.
std::optional<std::string> environment_value(const char* name);

// Whether the path names an existing folder.
bool folder_exists(const std::string& path);

}  // namespace quarvel::selftest
