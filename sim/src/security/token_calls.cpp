// advapi32's token calls: opening the process token, reading it, duplicating it for
// impersonation and testing membership.

#include <winsim/kernel.h>
#include <winsim/security.h>

#include <cstring>
#include <optional>

#include "machine/faults.h"
#include "security/access_check.h"
#include "security/acl_binary.h"
#include "security/privileges.h"
#include "security/sid.h"
#include "security/token.h"

namespace {

// Lays out one information class the way Windows does: the fixed structure first, then the
// SIDs and ACLs it points to, with pointers into the caller's buffer at `base`.
class InformationLayout {
  public:
    explicit InformationLayout(BYTE* base) : base_(base) {}

    std::size_t reserve(std::size_t bytes) {
        const std::size_t at = bytes_.size();
        bytes_.resize(at + bytes);
        return at;
    }
    template <class T>
    void put(std::size_t at, const T& value) {
        std::memcpy(bytes_.data() + at, &value, sizeof(T));
    }
    // Appends the data and returns where it will be in the caller's buffer.
    void* append(const std::vector<BYTE>& data) {
        const std::size_t at = reserve(data.size());
        std::memcpy(bytes_.data() + at, data.data(), data.size());
        return base_ == nullptr ? nullptr : base_ + at;
    }
    const std::vector<BYTE>& bytes() const { return bytes_; }

  private:
    BYTE* base_;
    std::vector<BYTE> bytes_;
};

std::vector<BYTE> sid_bytes(const std::string& text) {
    auto sid = winsim::sid_from_text(text);
    return sid ? *sid : std::vector<BYTE>{};
}

void lay_out_groups(InformationLayout& layout,
                    const std::vector<winsim::SidAndAttributes>& groups) {
    // DWORD count, padding to the 8-byte alignment of the array, then the array.
    layout.reserve(8);
    layout.put(0, static_cast<DWORD>(groups.size()));
    const std::size_t array = layout.reserve(groups.size() * sizeof(SID_AND_ATTRIBUTES));
    for (std::size_t k = 0; k < groups.size(); ++k) {
        const SID_AND_ATTRIBUTES entry{layout.append(sid_bytes(groups[k].sid)),
                                       groups[k].attributes};
        layout.put(array + k * sizeof(SID_AND_ATTRIBUTES), entry);
    }
}

// Nothing for a class the simulated host does not answer.
std::optional<std::vector<BYTE>> information(const winsim::TokenState& token,
                                             TOKEN_INFORMATION_CLASS information_class,
                                             BYTE* base) {
    InformationLayout layout(base);
    switch (information_class) {
        case TokenUser: {
            layout.reserve(sizeof(TOKEN_USER));
            layout.put(0, TOKEN_USER{{layout.append(sid_bytes(token.user)), 0}});
            break;
        }
        case TokenGroups:
            lay_out_groups(layout, token.groups);
            break;
        case TokenRestrictedSids:
            lay_out_groups(layout, token.restricting_sids);
            break;
        case TokenPrivileges: {
            layout.reserve(sizeof(DWORD));
            layout.put(0, static_cast<DWORD>(token.privileges.size()));
            for (const auto& privilege : token.privileges) {
                const auto luid = winsim::privilege_luid(privilege.name);
                const std::size_t at = layout.reserve(sizeof(LUID_AND_ATTRIBUTES));
                layout.put(at,
                           LUID_AND_ATTRIBUTES{luid.value_or(LUID{0, 0}), privilege.attributes});
            }
            break;
        }
        case TokenDefaultDacl: {
            layout.reserve(sizeof(TOKEN_DEFAULT_DACL));
            PACL dacl = nullptr;
            if (token.default_dacl) {
                const auto acl = winsim::acl_from_entries(*token.default_dacl);
                if (acl)
                    dacl = static_cast<PACL>(layout.append(*acl));
            }
            layout.put(0, TOKEN_DEFAULT_DACL{dacl});
            break;
        }
        case TokenType:
            layout.reserve(sizeof(DWORD));
            layout.put(0, static_cast<DWORD>(token.primary ? TokenPrimary : TokenImpersonation));
            break;
        case TokenElevation:
            layout.reserve(sizeof(TOKEN_ELEVATION));
            layout.put(0, TOKEN_ELEVATION{token.elevated ? 1u : 0u});
            break;
        default:
            return std::nullopt;
    }
    return layout.bytes();
}

// Windows hands out the process token only for the current process here: the program never
// opens another process's token.
bool is_current_process(HANDLE process) {
    return process == GetCurrentProcess();
}

}  // namespace

BOOL OpenProcessToken(HANDLE process, DWORD, PHANDLE token) {
    if (token == nullptr)
        return winsim::fail(ERROR_NOACCESS);
    *token = nullptr;
    if (auto fault = winsim::take_fault("OpenProcessToken")) {
        // Quirk: success without a usable handle.
        SetLastError(fault->value);
        return fault->kind == winsim::FaultKind::quirk ? TRUE : FALSE;
    }
    if (!is_current_process(process))
        return winsim::fail(ERROR_INVALID_HANDLE);
    *token = winsim::insert_handle(winsim::process_token_object());
    return TRUE;
}

BOOL GetTokenInformation(HANDLE token, TOKEN_INFORMATION_CLASS information_class, LPVOID buffer,
                         DWORD length, PDWORD return_length) {
    if (return_length == nullptr)
        return winsim::fail(ERROR_NOACCESS);
    // Quirk: the call succeeds but reports `value` as the length it wrote, so that a caller's
    // check of the reported length against the structure's own count can be reached.
    std::optional<DWORD> reported_length;
    if (auto fault = winsim::take_fault("GetTokenInformation")) {
        if (fault->kind == winsim::FaultKind::fail) {
            *return_length = 0;
            return winsim::fail(fault->value);
        }
        reported_length = fault->value;
    }
    const auto object = winsim::object_as<winsim::TokenObject>(token);
    if (!object)
        return winsim::fail(ERROR_INVALID_HANDLE);
    const winsim::TokenState state = object->snapshot();
    const auto needed = information(state, information_class, nullptr);
    if (!needed)
        return winsim::fail(ERROR_INVALID_PARAMETER);
    *return_length = static_cast<DWORD>(needed->size());
    if (buffer == nullptr || length < needed->size())
        return winsim::fail(ERROR_INSUFFICIENT_BUFFER);
    const auto written = information(state, information_class, static_cast<BYTE*>(buffer));
    std::memcpy(buffer, written->data(), written->size());
    if (reported_length)
        *return_length = *reported_length;
    return TRUE;
}

BOOL DuplicateToken(HANDLE existing, SECURITY_IMPERSONATION_LEVEL level, PHANDLE duplicate) {
    if (duplicate == nullptr)
        return winsim::fail(ERROR_NOACCESS);
    *duplicate = nullptr;
    if (auto fault = winsim::take_fault("DuplicateToken")) {
        // Quirk: success without a usable handle.
        SetLastError(fault->value);
        return fault->kind == winsim::FaultKind::quirk ? TRUE : FALSE;
    }
    if (level < SecurityAnonymous || level > SecurityDelegation)
        return winsim::fail(ERROR_BAD_IMPERSONATION_LEVEL);
    const auto object = winsim::object_as<winsim::TokenObject>(existing);
    if (!object)
        return winsim::fail(ERROR_INVALID_HANDLE);
    winsim::TokenState copy = object->snapshot();
    copy.primary = false;
    copy.impersonation_level = level;
    *duplicate = winsim::insert_handle(std::make_shared<winsim::TokenObject>(std::move(copy)));
    return TRUE;
}

BOOL CheckTokenMembership(HANDLE token, PSID sid, BOOL* is_member) {
    WINSIM_FAIL_IF_INJECTED("CheckTokenMembership");
    if (is_member == nullptr)
        return winsim::fail(ERROR_NOACCESS);
    *is_member = FALSE;
    if (!winsim::is_valid_sid(sid))
        return winsim::fail(ERROR_INVALID_SID);
    winsim::TokenState state;
    if (token == nullptr) {
        state = winsim::process_token_object()->snapshot();
    } else {
        const auto object = winsim::object_as<winsim::TokenObject>(token);
        if (!object)
            return winsim::fail(ERROR_INVALID_HANDLE);
        state = object->snapshot();
        if (state.primary)
            return winsim::fail(ERROR_NO_IMPERSONATION_TOKEN);
        if (state.impersonation_level < SecurityIdentification)
            return winsim::fail(ERROR_BAD_IMPERSONATION_LEVEL);
    }
    *is_member = winsim::token_is_member_of(state, winsim::sid_text(sid)) ? TRUE : FALSE;
    return TRUE;
}
