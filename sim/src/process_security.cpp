#include "process_security.h"

#include <winsim/security.h>

#include <unistd.h>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <nlohmann/json.hpp>
#include <string>

#include "access_check.h"
#include "accounts.h"
#include "machine.h"

namespace winsim {
namespace {

std::string record_path(pid_t pid) {
    const std::string directory = machine_directory() + "/processes";
    std::error_code ignored;
    std::filesystem::create_directories(directory, ignored);
    return directory + "/" + std::to_string(pid) + ".json";
}

nlohmann::json entries_to_json(const std::optional<std::vector<AccessEntry>>& dacl) {
    if (!dacl)
        return nullptr;
    auto entries = nlohmann::json::array();
    for (const auto& entry : *dacl)
        entries.push_back({{"type", entry.type},
                           {"flags", entry.flags},
                           {"mask", entry.mask},
                           {"sid", entry.sid}});
    return entries;
}

std::optional<std::vector<AccessEntry>> entries_from_json(const nlohmann::json& value) {
    if (value.is_null())
        return std::nullopt;
    std::vector<AccessEntry> entries;
    for (const auto& entry : value)
        entries.push_back({entry.at("type").get<BYTE>(), entry.at("flags").get<BYTE>(),
                           entry.at("mask").get<DWORD>(), entry.at("sid").get<std::string>()});
    return entries;
}

bool debug_privilege_enabled(const TokenState& token) {
    for (const auto& privilege : token.privileges)
        if (privilege.name == "SeDebugPrivilege" && (privilege.attributes & kPrivilegeEnabled) != 0)
            return true;
    return false;
}

}  // namespace

void record_process_dacl(pid_t pid, std::uint64_t start,
                         const std::optional<std::vector<AccessEntry>>& dacl) {
    const std::string path = record_path(pid);
    const std::string temporary = path + ".tmp" + std::to_string(::getpid());
    {
        std::ofstream out(temporary, std::ios::trunc);
        out << nlohmann::json{{"start", start}, {"dacl", entries_to_json(dacl)}}.dump();
    }
    std::error_code ignored;
    std::filesystem::rename(temporary, path, ignored);
}

std::optional<std::vector<AccessEntry>> process_dacl(pid_t pid, std::uint64_t start) {
    std::ifstream in(record_path(pid));
    const std::string text((std::istreambuf_iterator<char>(in)), {});
    const auto record = nlohmann::json::parse(text, nullptr, false);
    if (!record.is_discarded() && record.is_object() && record.value("start", 0ULL) == start)
        return entries_from_json(record.at("dacl"));
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
