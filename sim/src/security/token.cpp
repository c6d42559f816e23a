#include "security/token.h"

#include <cstdio>
#include <cstdlib>
#include <stdexcept>

#include "accounts/accounts.h"
#include "security/privileges.h"
#include "security/sid.h"

namespace winsim {
namespace {

// SIDs are kept in the standard form, so that every later comparison and layout works on
// text that is known to be a SID.
std::string standard_sid(const nlohmann::json& value) {
    const auto text = value.get<std::string>();
    auto standard = canonical_sid_text(text);
    if (!standard)
        throw std::invalid_argument("not a SID: " + text);
    return *standard;
}

nlohmann::json sids_to_json(const std::vector<SidAndAttributes>& sids) {
    nlohmann::json list = nlohmann::json::array();
    for (const auto& entry : sids)
        list.push_back({{"sid", entry.sid}, {"attributes", entry.attributes}});
    return list;
}

std::vector<SidAndAttributes> sids_from_json(const nlohmann::json& value, const char* member) {
    std::vector<SidAndAttributes> sids;
    if (!value.contains(member))
        return sids;
    for (const auto& entry : value.at(member))
        sids.push_back({standard_sid(entry.at("sid")), entry.value("attributes", 0u)});
    return sids;
}

}  // namespace

nlohmann::json token_to_json(const TokenState& token) {
    nlohmann::json privileges = nlohmann::json::array();
    for (const auto& privilege : token.privileges)
        privileges.push_back({{"name", privilege.name}, {"attributes", privilege.attributes}});
    return {{"user", token.user},
            {"groups", sids_to_json(token.groups)},
            {"privileges", privileges},
            {"restricting_sids", sids_to_json(token.restricting_sids)},
            {"elevated", token.elevated},
            {"write_restricted", token.write_restricted},
            {"limited_user", token.limited_user},
            {"default_dacl", dacl_to_json(token.default_dacl)},
            {"primary", token.primary},
            {"impersonation_level", token.impersonation_level}};
}

nlohmann::json dacl_to_json(const std::optional<std::vector<AccessEntry>>& dacl) {
    if (!dacl)
        return nullptr;
    nlohmann::json entries = nlohmann::json::array();
    for (const auto& entry : *dacl)
        entries.push_back({{"type", entry.type},
                           {"flags", entry.flags},
                           {"mask", entry.mask},
                           {"sid", entry.sid}});
    return entries;
}

std::optional<std::vector<AccessEntry>> dacl_from_json(const nlohmann::json& value) {
    if (value.is_null())
        return std::nullopt;
    std::vector<AccessEntry> entries;
    for (const auto& entry : value)
        entries.push_back({entry.value("type", BYTE{0}), entry.value("flags", BYTE{0}),
                           entry.at("mask").get<DWORD>(), standard_sid(entry.at("sid"))});
    return entries;
}

TokenState token_from_json(const nlohmann::json& value) {
    TokenState token;
    token.user = standard_sid(value.at("user"));
    token.groups = sids_from_json(value, "groups");
    token.restricting_sids = sids_from_json(value, "restricting_sids");
    if (value.contains("privileges"))
        for (const auto& entry : value.at("privileges")) {
            const auto name = entry.at("name").get<std::string>();
            if (!privilege_luid(name))
                throw std::invalid_argument("not a privilege: " + name);
            token.privileges.push_back({name, entry.value("attributes", 0u)});
        }
    token.elevated = value.value("elevated", false);
    token.write_restricted = value.value("write_restricted", false);
    token.limited_user = value.value("limited_user", false);
    if (value.contains("default_dacl"))
        token.default_dacl = dacl_from_json(value.at("default_dacl"));
    token.primary = value.value("primary", true);
    token.impersonation_level = value.value("impersonation_level", 0);
    return token;
}

TokenState current_process_token() {
    const char* given = std::getenv("WINSIM_TOKEN");
    if (given == nullptr || *given == '\0')
        return interactive_administrator_token();
    try {
        return token_from_json(nlohmann::json::parse(given));
    } catch (const std::exception& error) {
        // Running as somebody else than the creator intended would hide the defect.
        std::fprintf(stderr, "winsim: WINSIM_TOKEN is not a token: %s\n", error.what());
        std::abort();
    }
}

std::shared_ptr<TokenObject> process_token_object() {
    static const std::shared_ptr<TokenObject> token =
        std::make_shared<TokenObject>(current_process_token());
    return token;
}

}  // namespace winsim
