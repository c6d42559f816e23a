// SetEntriesInAclW and the absolute security descriptor calls of the simulated host.

#include <winsim/access_control.h>
#include <winsim/kernel.h>

#include <algorithm>
#include <cstring>

#include "machine/faults.h"
#include "machine/object.h"
#include "security/acl_binary.h"
#include "security/sid.h"

namespace {

using winsim::AccessEntry;

// Explicit ACE inheritance flags for the grfInheritance bits: the low four bits are the ACE's.
BYTE ace_flags(DWORD inheritance) {
    return static_cast<BYTE>(inheritance & (OBJECT_INHERIT_ACE | CONTAINER_INHERIT_ACE |
                                            NO_PROPAGATE_INHERIT_ACE | INHERIT_ONLY_ACE));
}

struct Merge {
    std::vector<AccessEntry> new_denied;
    std::vector<AccessEntry> new_allowed;
    std::vector<AccessEntry> old_denied;
    std::vector<AccessEntry> old_allowed;
    std::vector<AccessEntry> inherited;

    void drop_trustee(const std::string& sid) {
        const auto same = [&](const AccessEntry& entry) {
            return winsim::same_sid(entry.sid, sid);
        };
        std::erase_if(old_denied, same);
        std::erase_if(old_allowed, same);
    }

    // The trustee's old allowed entry with the same flags, folded into the grant.
    DWORD take_old_grant(const std::string& sid, BYTE flags) {
        DWORD mask = 0;
        std::erase_if(old_allowed, [&](const AccessEntry& entry) {
            if (!winsim::same_sid(entry.sid, sid) || entry.flags != flags)
                return false;
            mask |= entry.mask;
            return true;
        });
        return mask;
    }

    std::vector<AccessEntry> ordered() const {
        std::vector<AccessEntry> all;
        for (const auto* part : {&new_denied, &old_denied, &new_allowed, &old_allowed, &inherited})
            all.insert(all.end(), part->begin(), part->end());
        return all;
    }
};

DWORD merge_entry(Merge& merge, const EXPLICIT_ACCESS_W& entry) {
    if (entry.Trustee.TrusteeForm != TRUSTEE_IS_SID ||
        entry.Trustee.MultipleTrusteeOperation != NO_MULTIPLE_TRUSTEE)
        return ERROR_INVALID_PARAMETER;
    const void* sid = entry.Trustee.ptstrName;
    if (sid == nullptr || !winsim::is_valid_sid(sid))
        return ERROR_INVALID_SID;
    const std::string text = winsim::sid_text(sid);
    const BYTE flags = ace_flags(entry.grfInheritance);
    switch (entry.grfAccessMode) {
        case GRANT_ACCESS: {
            const DWORD mask = entry.grfAccessPermissions | merge.take_old_grant(text, flags);
            merge.new_allowed.push_back({ACCESS_ALLOWED_ACE_TYPE, flags, mask, text});
            return ERROR_SUCCESS;
        }
        case SET_ACCESS:
            merge.drop_trustee(text);
            merge.new_allowed.push_back(
                {ACCESS_ALLOWED_ACE_TYPE, flags, entry.grfAccessPermissions, text});
            return ERROR_SUCCESS;
        case DENY_ACCESS:
            merge.new_denied.push_back(
                {ACCESS_DENIED_ACE_TYPE, flags, entry.grfAccessPermissions, text});
            return ERROR_SUCCESS;
        case REVOKE_ACCESS:
            merge.drop_trustee(text);
            std::erase_if(merge.new_allowed,
                          [&](const AccessEntry& e) { return winsim::same_sid(e.sid, text); });
            return ERROR_SUCCESS;
        case NOT_USED_ACCESS:
            return ERROR_SUCCESS;
        default:
            return ERROR_INVALID_PARAMETER;
    }
}

}  // namespace

DWORD SetEntriesInAclW(ULONG count, PEXPLICIT_ACCESS_W entries, PACL old_acl, PACL* new_acl) {
    if (auto fault = winsim::take_fault("SetEntriesInAclW"))
        return fault->value;
    if (new_acl == nullptr || (count > 0 && entries == nullptr))
        return ERROR_INVALID_PARAMETER;
    *new_acl = nullptr;
    Merge merge;
    if (old_acl != nullptr) {
        const auto old_entries = winsim::entries_from_acl(old_acl);
        if (!old_entries)
            return 1336;  // ERROR_INVALID_ACL
        for (const auto& entry : *old_entries) {
            if ((entry.flags & INHERITED_ACE) != 0)
                merge.inherited.push_back(entry);
            else if (entry.type == ACCESS_DENIED_ACE_TYPE)
                merge.old_denied.push_back(entry);
            else
                merge.old_allowed.push_back(entry);
        }
    }
    for (ULONG k = 0; k < count; ++k)
        if (const DWORD error = merge_entry(merge, entries[k]); error != ERROR_SUCCESS)
            return error;
    const auto binary = winsim::acl_from_entries(merge.ordered());
    if (!binary)
        return ERROR_INVALID_SID;
    void* block = LocalAlloc(LMEM_FIXED, binary->size());
    if (block == nullptr)
        return ERROR_NOT_ENOUGH_MEMORY;
    std::memcpy(block, binary->data(), binary->size());
    *new_acl = static_cast<PACL>(block);
    return ERROR_SUCCESS;
}

BOOL InitializeSecurityDescriptor(PSECURITY_DESCRIPTOR descriptor, DWORD revision) {
    WINSIM_FAIL_IF_INJECTED("InitializeSecurityDescriptor");
    if (descriptor == nullptr)
        return winsim::fail(ERROR_INVALID_PARAMETER);
    if (revision != SECURITY_DESCRIPTOR_REVISION)
        return winsim::fail(ERROR_UNKNOWN_REVISION);
    auto* absolute = static_cast<SECURITY_DESCRIPTOR*>(descriptor);
    *absolute = SECURITY_DESCRIPTOR{};
    absolute->Revision = SECURITY_DESCRIPTOR_REVISION;
    return TRUE;
}

BOOL SetSecurityDescriptorDacl(PSECURITY_DESCRIPTOR descriptor, BOOL present, PACL dacl,
                               BOOL defaulted) {
    WINSIM_FAIL_IF_INJECTED("SetSecurityDescriptorDacl");
    if (descriptor == nullptr)
        return winsim::fail(ERROR_INVALID_PARAMETER);
    auto* absolute = static_cast<SECURITY_DESCRIPTOR*>(descriptor);
    if (absolute->Revision != SECURITY_DESCRIPTOR_REVISION)
        return winsim::fail(ERROR_UNKNOWN_REVISION);
    if ((absolute->Control & SE_SELF_RELATIVE) != 0)
        return winsim::fail(ERROR_INVALID_SECURITY_DESCR);
    absolute->Control &= static_cast<WORD>(~(SE_DACL_PRESENT | SE_DACL_DEFAULTED));
    if (present) {
        absolute->Control |= SE_DACL_PRESENT;
        if (defaulted)
            absolute->Control |= SE_DACL_DEFAULTED;
        absolute->Dacl = dacl;
    } else {
        absolute->Dacl = nullptr;
    }
    return TRUE;
}
