#pragma once
// Identity in the simulated host: the state of an access token, shared by every part of the
// simulated host that needs to know who a process is (token queries, access checks on pipes
// and files, process creation). A process's own token is read once at start-up.

#include <nlohmann/json.hpp>

#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "machine/object.h"

namespace winsim {

// Attributes as Windows defines them.
inline constexpr DWORD kGroupMandatory = 0x00000001;
inline constexpr DWORD kGroupEnabledByDefault = 0x00000002;
inline constexpr DWORD kGroupEnabled = 0x00000004;
inline constexpr DWORD kGroupUseForDenyOnly = 0x00000010;
inline constexpr DWORD kGroupLogonId = 0xC0000000;
inline constexpr DWORD kPrivilegeEnabledByDefault = 0x00000001;
inline constexpr DWORD kPrivilegeEnabled = 0x00000002;

struct SidAndAttributes {
    std::string sid;  // string form, "S-1-5-..."
    DWORD attributes = 0;
};

struct TokenPrivilege {
    std::string name;  // "SeChangeNotifyPrivilege", ...
    DWORD attributes = 0;
};

// One access control entry, as the simulated host stores it outside binary ACLs.
struct AccessEntry {
    BYTE type = 0;   // ACCESS_ALLOWED_ACE_TYPE (0) or ACCESS_DENIED_ACE_TYPE (1)
    BYTE flags = 0;  // inheritance flags
    DWORD mask = 0;
    std::string sid;
};

struct TokenState {
    std::string user;
    std::vector<SidAndAttributes> groups;  // the logon SID carries kGroupLogonId
    std::vector<TokenPrivilege> privileges;
    std::vector<SidAndAttributes> restricting_sids;  // non-empty: a restricted token
    bool elevated = false;
    bool write_restricted = false;
    bool limited_user = false;  // LUA_TOKEN
    // Absent: the token has no default DACL.
    std::optional<std::vector<AccessEntry>> default_dacl;
    bool primary = true;          // TokenPrimary or TokenImpersonation
    int impersonation_level = 0;  // SECURITY_IMPERSONATION_LEVEL for impersonation tokens
};

// The JSON form, as WINSIM_TOKEN carries it:
//   {"user": "S-1-5-21-...-1001",
//    "groups": [{"sid": "S-1-1-0", "attributes": 7}, ...],
//    "privileges": [{"name": "SeChangeNotifyPrivilege", "attributes": 3}, ...],
//    "restricting_sids": [{"sid": "...", "attributes": 0}, ...],
//    "elevated": false, "write_restricted": false, "limited_user": false,
//    "default_dacl": null or [{"type": 0, "flags": 0, "mask": 268435456, "sid": "..."}, ...],
//    "primary": true, "impersonation_level": 0}
// Reading requires "user" and takes the documented defaults for every other member; a member
// of the wrong type throws nlohmann::json::exception, a SID that is not one or an unknown
// privilege name std::invalid_argument. SIDs are kept in the standard form.
nlohmann::json token_to_json(const TokenState& token);
TokenState token_from_json(const nlohmann::json& value);

// A DACL as the machine's records keep it (a token's default DACL, a desktop's, a process's,
// a pipe's): null for none, else [{"type": 0, "flags": 0, "mask": ..., "sid": "..."}, ...].
// Reading throws as token_from_json does.
nlohmann::json dacl_to_json(const std::optional<std::vector<AccessEntry>>& dacl);
std::optional<std::vector<AccessEntry>> dacl_from_json(const nlohmann::json& value);

// A restricted token: it has restricting SIDs (write-restricted or not).
inline bool is_restricted(const TokenState& token) {
    return !token.restricting_sids.empty();
}

// The calling process's token: the identity it was started with (WINSIM_TOKEN, JSON, set by
// the simulated process creation calls), or the machine's interactive administrator, elevated
// unless the machine's accounts say otherwise. WINSIM_TOKEN stays in the environment, so a
// child that is started without a token of its own runs as its parent, as on Windows.
TokenState current_process_token();

// A token handle's object. The state is shared by handles to the same token; duplicating a
// token copies it.
class TokenObject : public KernelObject {
  public:
    explicit TokenObject(TokenState state) : state_(std::move(state)) {}
    const char* type_name() const override { return "Token"; }

    TokenState snapshot() const {
        std::lock_guard lock(mutex_);
        return state_;
    }
    template <class Change>
    void update(Change&& change) {
        std::lock_guard lock(mutex_);
        change(state_);
    }

  private:
    mutable std::mutex mutex_;
    TokenState state_;
};

// The token object of this process, made from current_process_token() on first use; every
// OpenProcessToken of the process refers to it.
std::shared_ptr<TokenObject> process_token_object();

}  // namespace winsim
