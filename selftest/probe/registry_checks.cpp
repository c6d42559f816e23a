#include <string>

#include "platform/win32.h"
#include "selftest/probe/sandbox_checks.h"

namespace quarvel::selftest {
namespace {

constexpr const char* kMachineTitle = "write a key under HKEY_LOCAL_MACHINE\\SOFTWARE";
constexpr const char* kUserTitle = "write a key in the user's hive under HKEY_USERS";

}  // namespace

#if QUARVEL_HAS_REGISTRY
namespace {

// Creates a volatile key and removes it again when that worked: 0 or the error.
std::uint32_t try_create_key(HKEY root, const std::string& path) {
    const WideString name = to_wide(path);
    HKEY key = nullptr;
    const LSTATUS status = RegCreateKeyExW(root, name.c_str(), 0, nullptr, REG_OPTION_VOLATILE,
                                           KEY_WRITE, nullptr, &key, nullptr);
    if (status != ERROR_SUCCESS)
        return static_cast<std::uint32_t>(status);
    RegCloseKey(key);
    RegDeleteKeyW(root, name.c_str());
    return 0;
}

}  // namespace

std::vector<CheckResult> registry_checks(const ProbeRequest& request, std::string_view unique) {
    const std::string key = "quarvel-selftest-" + std::string(unique);
    return {attempt("registry.machine.write", kMachineTitle, Expectation::denied,
                    try_create_key(HKEY_LOCAL_MACHINE, "SOFTWARE\\" + key)),
            attempt("registry.user.write", kUserTitle, Expectation::denied,
                    try_create_key(HKEY_USERS, request.host_user_sid + "\\Software\\" + key))};
}
#else
std::vector<CheckResult> registry_checks(const ProbeRequest&, std::string_view) {
    return {unavailable("registry.machine.write", kMachineTitle, Expectation::denied),
            unavailable("registry.user.write", kUserTitle, Expectation::denied)};
}
#endif

}  // namespace quarvel::selftest
