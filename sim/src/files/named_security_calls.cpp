// aclapi's GetNamedSecurityInfoW and SetNamedSecurityInfoW for files and directories, with the
// automatic propagation of inheritable entries to existing descendants.

#include <winsim/kernel.h>
#include <winsim/named_security.h>
#include <winsim/testing.h>

#include <dirent.h>
#include <sys/stat.h>
#include <atomic>
#include <cerrno>
#include <cstring>

#include "accounts/accounts.h"
#include "files/ace_inheritance.h"
#include "files/file_access.h"
#include "files/file_paths.h"
#include "files/file_security.h"
#include "files/share_access.h"
#include "machine/faults.h"
#include "security/access_check.h"
#include "security/acl_binary.h"
#include "security/sid.h"

namespace winsim {
namespace {

std::atomic<std::uint64_t> visits_of_last_write{0};

constexpr SECURITY_INFORMATION kSaclInformation = SACL_SECURITY_INFORMATION |
                                                  PROTECTED_SACL_SECURITY_INFORMATION |
                                                  UNPROTECTED_SACL_SECURITY_INFORMATION;

// The resolved object a name refers to, links followed, or the error for a missing one.
std::expected<std::string, DWORD> named_object(LPCWSTR name) {
    const auto host = host_path_for(std::u16string_view(name));
    if (!host)
        return std::unexpected(host.error());
    if (const DWORD pending = settle_pending_deletion(*host, true))
        return std::unexpected(pending);
    if (auto resolved = resolved_object_path(*host, false))
        return std::move(*resolved);
    return std::unexpected(errno == ENOTDIR ? static_cast<DWORD>(ERROR_PATH_NOT_FOUND)
                                            : missing_file_error(*host));
}

struct Propagation {
    std::uint64_t visited = 0;
    DWORD first_error = ERROR_SUCCESS;
};

// Every object below `folder` takes the folder's inheritable entries anew. Links are visited
// but not descended into; a protected descendant keeps its list, and so does what lies below
// it, which inherits from it alone.
void propagate(const std::string& folder, const SecurityDescription& folder_security,
               Propagation& progress) {
    DIR* listing = ::opendir(folder.c_str());
    if (listing == nullptr)
        return;
    while (const dirent* entry = ::readdir(listing)) {
        const std::string_view name(entry->d_name);
        if (name == "." || name == "..")
            continue;
        std::string child = folder == "/" ? std::string() : folder;
        child += '/';
        child += name;
        ++progress.visited;
        struct stat status {};
        if (::lstat(child.c_str(), &status) != 0 || S_ISLNK(status.st_mode))
            continue;
        const bool container = S_ISDIR(status.st_mode);
        SecurityDescription now;
        if (const auto stored = stored_security(child)) {
            if ((stored->control & SE_DACL_PROTECTED) != 0)
                continue;
            now = reinherited_security(*stored, folder_security, container);
            if (const DWORD error = store_security(child, now);
                error != ERROR_SUCCESS && progress.first_error == ERROR_SUCCESS)
                progress.first_error = error;
        } else {
            now = derived_child_security(folder_security, container);
        }
        if (container)
            propagate(child, now, progress);
    }
    ::closedir(listing);
}

bool may_own(const TokenState& token, const std::string& sid) {
    if (same_sid(token.user, sid))
        return true;
    constexpr DWORD kEnabledOwner = kGroupEnabled | kGroupOwnerAttribute;
    for (const auto& group : token.groups)
        if (same_sid(group.sid, sid) && (group.attributes & kEnabledOwner) == kEnabledOwner)
            return true;
    return false;
}

// The DACL asked for, as the object will hold it: the given explicit entries, then what the
// parent passes on unless the list is protected.
SecurityDescription with_new_dacl(SecurityDescription object, const std::string& resolved,
                                  const std::optional<std::vector<AccessEntry>>& given,
                                  SECURITY_INFORMATION information) {
    bool protect = (object.control & SE_DACL_PROTECTED) != 0;
    if ((information & PROTECTED_DACL_SECURITY_INFORMATION) != 0)
        protect = true;
    else if ((information & UNPROTECTED_DACL_SECURITY_INFORMATION) != 0)
        protect = false;
    const WORD protection = protect ? SE_DACL_PROTECTED : 0;
    if (!given) {
        object.dacl.reset();
        object.control = static_cast<WORD>(SE_DACL_PRESENT | protection);
        return object;
    }
    auto entries = explicit_entries(*given);
    const auto parent = parent_object(resolved);
    if (!protect && parent) {
        const auto from = effective_security(*parent);
        if (from.dacl) {
            const auto passed =
                inherited_entries(*from.dacl, is_container(resolved),
                                  object.owner.value_or(std::string(kAdministratorsSid)));
            entries.insert(entries.end(), passed.begin(), passed.end());
        }
    }
    object.dacl = std::move(entries);
    object.control = static_cast<WORD>(SE_DACL_PRESENT | SE_DACL_AUTO_INHERITED | protection);
    return object;
}

}  // namespace

std::uint64_t last_security_write_visits() {
    return visits_of_last_write.load();
}

}  // namespace winsim

DWORD GetNamedSecurityInfoW(LPCWSTR object_name, SE_OBJECT_TYPE object_type,
                            SECURITY_INFORMATION information, PSID* owner, PSID* group, PACL* dacl,
                            PACL* sacl, PSECURITY_DESCRIPTOR* descriptor) {
    if (auto fault = winsim::take_fault("GetNamedSecurityInfoW"))
        return fault->value;
    for (void** out : {reinterpret_cast<void**>(owner), reinterpret_cast<void**>(group),
                       reinterpret_cast<void**>(dacl), reinterpret_cast<void**>(sacl)})
        if (out != nullptr)
            *out = nullptr;
    if (object_name == nullptr || object_type != SE_FILE_OBJECT || descriptor == nullptr)
        return ERROR_INVALID_PARAMETER;
    *descriptor = nullptr;
    if ((information & winsim::kSaclInformation) != 0)
        return ERROR_PRIVILEGE_NOT_HELD;
    const auto resolved = winsim::named_object(object_name);
    if (!resolved)
        return resolved.error();
    const auto current = winsim::effective_security(*resolved);
    const bool reads = (information & (OWNER_SECURITY_INFORMATION | GROUP_SECURITY_INFORMATION |
                                       DACL_SECURITY_INFORMATION)) != 0;
    if (reads && !winsim::process_granted(current, READ_CONTROL))
        return ERROR_ACCESS_DENIED;

    winsim::SecurityDescription asked;
    if ((information & OWNER_SECURITY_INFORMATION) != 0)
        asked.owner = current.owner;
    if ((information & DACL_SECURITY_INFORMATION) != 0) {
        asked.control = current.control;
        asked.dacl = current.dacl;
    }
    const auto bytes = winsim::self_relative_descriptor(asked);
    if (!bytes)
        return ERROR_INVALID_SECURITY_DESCR;
    auto* block = static_cast<BYTE*>(LocalAlloc(LMEM_FIXED, bytes->size()));
    if (block == nullptr)
        return ERROR_NOT_ENOUGH_MEMORY;
    std::memcpy(block, bytes->data(), bytes->size());
    SECURITY_DESCRIPTOR_RELATIVE header;
    std::memcpy(&header, block, sizeof header);
    if (owner != nullptr && header.Owner != 0)
        *owner = block + header.Owner;
    if (dacl != nullptr && header.Dacl != 0)
        *dacl = reinterpret_cast<PACL>(block + header.Dacl);
    *descriptor = block;
    return ERROR_SUCCESS;
}

DWORD SetNamedSecurityInfoW(LPWSTR object_name, SE_OBJECT_TYPE object_type,
                            SECURITY_INFORMATION information, PSID owner, PSID, PACL dacl, PACL) {
    if (auto fault = winsim::take_fault("SetNamedSecurityInfoW"))
        return fault->value;
    if (object_name == nullptr || object_type != SE_FILE_OBJECT)
        return ERROR_INVALID_PARAMETER;
    if ((information & winsim::kSaclInformation) != 0)
        return ERROR_PRIVILEGE_NOT_HELD;
    const bool sets_dacl = (information & DACL_SECURITY_INFORMATION) != 0;
    const bool sets_owner = (information & OWNER_SECURITY_INFORMATION) != 0;
    std::optional<std::vector<winsim::AccessEntry>> given;
    if (sets_dacl && dacl != nullptr) {
        given = winsim::entries_from_acl(dacl);
        if (!given)
            return ERROR_INVALID_ACL;
    }
    std::string new_owner;
    if (sets_owner) {
        if (owner == nullptr || !winsim::is_valid_sid(owner))
            return ERROR_INVALID_SID;
        new_owner = winsim::sid_text(owner);
        if (!winsim::may_own(winsim::process_token_object()->snapshot(), new_owner))
            return ERROR_INVALID_OWNER;
    }
    const auto resolved = winsim::named_object(object_name);
    if (!resolved)
        return resolved.error();

    auto updated = winsim::effective_security(*resolved);
    const ACCESS_MASK needed = (sets_dacl ? WRITE_DAC : 0u) | (sets_owner ? WRITE_OWNER : 0u);
    if (!winsim::process_granted(updated, needed))
        return ERROR_ACCESS_DENIED;
    if (sets_owner)
        updated.owner = new_owner;
    if (sets_dacl)
        updated = winsim::with_new_dacl(std::move(updated), *resolved, given, information);
    if (const DWORD error = winsim::store_security(*resolved, updated); error != ERROR_SUCCESS)
        return error;
    winsim::Propagation progress;
    progress.visited = 1;
    if (sets_dacl && winsim::is_container(*resolved))
        winsim::propagate(*resolved, updated, progress);
    winsim::visits_of_last_write = progress.visited;
    return progress.first_error;
}
