#include "processes/process_security.h"

#include <winsim/security.h>

#include <fstream>
#include <iterator>
#include <nlohmann/json.hpp>
#include <string>

#include "accounts/accounts.h"
#include "machine/machine.h"
#include "security/access_check.h"

namespace winsim {
namespace {

bool debug_privilege_enabled(const TokenState& token) {
    for (const auto& privilege : token.privileges)
        if (privilege.name == "SeDebugPrivilege" && (privilege.attributes & kPrivilegeEnabled) != 0)
            return true;
    return false;
}

}  // namespace

void record_process_dacl(pid_t pid, std::uint64_t start,
                         const std::optional<std::vector<AccessEntry>>& dacl) {
    // Without a record, the process reads as one the simulated host did not start.
    (void)replace_file(process_record_path(pid, ".json"),
                       nlohmann::json{{"start", start}, {"dacl", dacl_to_json(dacl)}}.dump());
}

std::optional<std::vector<AccessEntry>> process_dacl(pid_t pid, std::uint64_t start) {
    std::ifstream in(process_record_path(pid, ".json"));
    const std::string text((std::istreambuf_iterator<char>(in)), {});
    const auto record = nlohmann::json::parse(text, nullptr, false);
    if (!record.is_discarded() && record.is_object() && record.value("start", 0ULL) == start)
        return dacl_from_json(record.at("dacl"));
    const auto administrator = interactive_administrator_token();
    if (!administrator.default_dacl)
        return std::nullopt;
    return map_generic_rights(*administrator.default_dacl, kProcessGenericMapping);
}

std::optional<DWORD> process_access(const TokenState& token,
                                    const std::optional<std::vector<AccessEntry>>& dacl,
                                    DWORD desired) {
    DWORD wanted = map_generic_rights(desired & ~MAXIMUM_ALLOWED, kProcessGenericMapping);
    if ((wanted & PROCESS_QUERY_INFORMATION) != 0)
        wanted |= PROCESS_QUERY_LIMITED_INFORMATION;
    if (debug_privilege_enabled(token) || access_granted(token, dacl, wanted, kProcessWriteRights))
        return wanted;
    return std::nullopt;
}

}  // namespace winsim
