#include "windows/process/command_environment.h"

#include "windows/security/os_failure.h"

namespace quarvel {

Result<void> use_temp_directory(WideView directory) {
    const WideString value(directory);
    for (const char* name : {"TEMP", "TMP"}) {
        const WideString variable = to_wide(name);
        if (!SetEnvironmentVariableW(variable.c_str(), value.c_str()))
            return std::unexpected(os_failure("command_environment_failed",
                                              "Could not set protected command temporary "
                                              "directory."));
    }
    return {};
}

}  // namespace quarvel
