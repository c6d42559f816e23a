#pragma once
// Reading back a path's owner and access list through GetNamedSecurityInfoW, in the form tests
// compare: for both test binaries (the simulated host's calls and Wine's).

#include <cstring>
#include <string>
#include <vector>

#include "platform/unique_resource.h"
#include "platform/wide_text.h"
#include "platform/win32.h"

namespace quarvel::testing {

struct AclEntry {
    BYTE type = 0;
    BYTE flags = 0;
    DWORD mask = 0;
    std::string sid;
    bool operator==(const AclEntry&) const = default;
};

inline std::string sid_text(PSID sid) {
    LPWSTR text = nullptr;
    if (!ConvertSidToStringSidW(sid, &text))
        return "<bad sid>";
    LocalPtr<WCHAR> owned(text);
    return narrow_lossy(text);
}

inline std::vector<AclEntry> entries_of(const ACL* acl) {
    std::vector<AclEntry> entries;
    if (acl == nullptr)
        return entries;
    const auto* at = reinterpret_cast<const BYTE*>(acl) + sizeof(ACL);
    for (WORD k = 0; k < acl->AceCount; ++k) {
        const auto* ace = reinterpret_cast<const ACCESS_ALLOWED_ACE*>(at);
        entries.push_back({ace->Header.AceType, ace->Header.AceFlags, ace->Mask,
                           sid_text(const_cast<DWORD*>(&ace->SidStart))});
        at += ace->Header.AceSize;
    }
    return entries;
}

struct PathSecurity {
    DWORD error = 0;  // GetNamedSecurityInfoW's result
    WORD control = 0;
    std::string owner;
    std::vector<AclEntry> entries;
    bool operator==(const PathSecurity&) const = default;
};

inline PathSecurity read_path_security(const WideString& path) {
    PSID owner = nullptr;
    PACL dacl = nullptr;
    LocalPtr<void> descriptor;
    PathSecurity read;
    read.error = GetNamedSecurityInfoW(path.c_str(), SE_FILE_OBJECT,
                                       OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION,
                                       &owner, nullptr, &dacl, nullptr, descriptor.put());
    if (read.error != ERROR_SUCCESS)
        return read;
    // The control word of the self-relative descriptor Windows returns.
    std::memcpy(&read.control, static_cast<const BYTE*>(descriptor.get()) + 2, sizeof read.control);
    read.owner = owner != nullptr ? sid_text(owner) : "";
    read.entries = entries_of(dacl);
    return read;
}

// Replaces the path's access list by the DACL of the descriptor string `sddl`, protected from
// inheritance; false when either step fails.
inline bool set_protected_dacl(const WideString& path, const char* sddl) {
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (!ConvertStringSecurityDescriptorToSecurityDescriptorW(
            to_wide(sddl).c_str(), SDDL_REVISION_1, &descriptor, nullptr))
        return false;
    LocalPtr<void> owned(descriptor);
    BOOL present = FALSE;
    BOOL defaulted = FALSE;
    PACL dacl = nullptr;
    if (!GetSecurityDescriptorDacl(descriptor, &present, &dacl, &defaulted))
        return false;
    WideString name = path;
    return SetNamedSecurityInfoW(name.data(), SE_FILE_OBJECT,
                                 DACL_SECURITY_INFORMATION | PROTECTED_DACL_SECURITY_INFORMATION,
                                 nullptr, nullptr, dacl, nullptr) == ERROR_SUCCESS;
}

// The entries for one SID.
inline std::vector<AclEntry> entries_for(const std::vector<AclEntry>& entries,
                                         const std::string& sid) {
    std::vector<AclEntry> found;
    for (const auto& entry : entries)
        if (entry.sid == sid)
            found.push_back(entry);
    return found;
}

}  // namespace quarvel::testing
