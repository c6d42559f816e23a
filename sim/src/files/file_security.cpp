#include "files/file_security.h"

#include <sys/stat.h>
#include <sys/xattr.h>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <vector>

#include "accounts/accounts.h"
#include "files/ace_inheritance.h"
#include "files/file_paths.h"
#include "machine/fd_object.h"

namespace winsim {
namespace {

constexpr const char* kSecurityAttribute = "user.winsim.security";
constexpr DWORD kNotSupported = 50;  // ERROR_NOT_SUPPORTED
constexpr DWORD kFileAllAccess = FILE_ALL_ACCESS;
constexpr DWORD kModify = 0x001301BF;
constexpr DWORD kReadAndExecute = 0x001200A9;
constexpr BYTE kInheritBoth = OBJECT_INHERIT_ACE | CONTAINER_INHERIT_ACE;
constexpr WORD kAutoInherited = SE_DACL_PRESENT | SE_DACL_AUTO_INHERITED;

std::optional<std::string> real_path(const std::string& path) {
    char resolved[PATH_MAX];
    if (::realpath(path.c_str(), resolved) == nullptr)
        return std::nullopt;
    return std::string(resolved);
}

std::string folder_of(const std::string& path) {
    const auto slash = path.find_last_of('/');
    if (slash == std::string::npos || slash == 0)
        return "/";
    return path.substr(0, slash);
}

std::string name_of(const std::string& path) {
    const auto slash = path.find_last_of('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string joined(const std::string& folder, const std::string& name) {
    return folder == "/" ? "/" + name : folder + "/" + name;
}

// The system drive of a fresh Windows installation: Administrators and SYSTEM full control,
// Users read and execute, Authenticated Users modify on what is made below (inherit-only) and
// the creation of folders (and synchronize) at the root itself.
SecurityDescription system_drive_root() {
    SecurityDescription root;
    root.control = SE_DACL_PRESENT | SE_DACL_PROTECTED;
    root.owner = std::string(kLocalSystemSid);
    root.dacl = std::vector<AccessEntry>{
        {ACCESS_ALLOWED_ACE_TYPE, kInheritBoth, kFileAllAccess, std::string(kAdministratorsSid)},
        {ACCESS_ALLOWED_ACE_TYPE, kInheritBoth, kFileAllAccess, std::string(kLocalSystemSid)},
        {ACCESS_ALLOWED_ACE_TYPE, kInheritBoth, kReadAndExecute, std::string(kUsersSid)},
        {ACCESS_ALLOWED_ACE_TYPE, kInheritBoth | INHERIT_ONLY_ACE, kModify,
         std::string(kAuthenticatedUsersSid)},
        {ACCESS_ALLOWED_ACE_TYPE, 0, SYNCHRONIZE | FILE_ADD_SUBDIRECTORY,
         std::string(kAuthenticatedUsersSid)},
    };
    return root;
}

// The host's own file system (Z:), which no Windows installation prepared: a guess, written
// down in sim/README.md.
SecurityDescription host_drive_root() {
    SecurityDescription root;
    root.control = SE_DACL_PRESENT | SE_DACL_PROTECTED;
    root.owner = std::string(kAdministratorsSid);
    root.dacl = std::vector<AccessEntry>{
        {ACCESS_ALLOWED_ACE_TYPE, kInheritBoth, kFileAllAccess, std::string(kAdministratorsSid)},
        {ACCESS_ALLOWED_ACE_TYPE, kInheritBoth, kFileAllAccess, std::string(kLocalSystemSid)},
        {ACCESS_ALLOWED_ACE_TYPE, kInheritBoth, kModify, std::string(kEveryoneSid)},
    };
    return root;
}

SecurityDescription drive_root_security(const std::string& root) {
    return root == "/" ? host_drive_root() : system_drive_root();
}

// Who made what the host made: the machine's elevated administrator.
const TokenState& host_creator() {
    static const TokenState creator = [] {
        TokenState token;
        token.user = std::string(kLocalSystemSid);
        token.groups = {{std::string(kAdministratorsSid), kGroupEnabled | kGroupOwnerAttribute}};
        token.default_dacl = std::vector<AccessEntry>{
            {ACCESS_ALLOWED_ACE_TYPE, 0, GENERIC_ALL, std::string(kAdministratorsSid)},
            {ACCESS_ALLOWED_ACE_TYPE, 0, GENERIC_ALL, std::string(kLocalSystemSid)},
        };
        return token;
    }();
    return creator;
}

std::vector<AccessEntry> joined_entries(std::vector<AccessEntry> first,
                                        const std::vector<AccessEntry>& second) {
    first.insert(first.end(), second.begin(), second.end());
    return first;
}

}  // namespace

std::optional<std::string> resolved_object_path(const std::string& host_path, bool link_itself) {
    struct stat status {};
    if (::lstat(host_path.c_str(), &status) != 0)
        return std::nullopt;
    if (!link_itself || !S_ISLNK(status.st_mode))
        return real_path(host_path);
    const auto folder = real_path(folder_of(host_path));
    if (!folder)
        return std::nullopt;
    return joined(*folder, name_of(host_path));
}

std::optional<std::string> resolved_new_path(const std::string& host_path) {
    const auto folder = real_path(folder_of(host_path));
    if (!folder)
        return std::nullopt;
    return joined(*folder, name_of(host_path));
}

std::optional<std::string> parent_object(const std::string& resolved) {
    if (resolved == "/" || resolved == drive_root_of(resolved))
        return std::nullopt;
    return folder_of(resolved);
}

bool is_container(const std::string& resolved) {
    struct stat status {};
    return ::stat(resolved.c_str(), &status) == 0 && S_ISDIR(status.st_mode);
}

std::optional<SecurityDescription> stored_security(const std::string& resolved) {
    std::vector<BYTE> bytes(256);
    for (;;) {
        const ssize_t got =
            ::lgetxattr(resolved.c_str(), kSecurityAttribute, bytes.data(), bytes.size());
        if (got >= 0) {
            bytes.resize(static_cast<std::size_t>(got));
            break;
        }
        if (errno != ERANGE)
            return std::nullopt;
        const ssize_t needed = ::lgetxattr(resolved.c_str(), kSecurityAttribute, nullptr, 0);
        if (needed < 0)
            return std::nullopt;
        bytes.resize(static_cast<std::size_t>(needed) + 1);
    }
    if (bytes.size() < sizeof(SECURITY_DESCRIPTOR_RELATIVE))
        return std::nullopt;
    return read_security_descriptor(bytes.data());
}

DWORD store_security(const std::string& resolved, const SecurityDescription& description) {
    const auto bytes = self_relative_descriptor(description);
    if (!bytes)
        return ERROR_INVALID_SID;
    if (::lsetxattr(resolved.c_str(), kSecurityAttribute, bytes->data(), bytes->size(), 0) == 0)
        return ERROR_SUCCESS;
    if (errno == EPERM || errno == ENOTSUP)
        return kNotSupported;
    return windows_error_from_errno(errno);
}

SecurityDescription effective_security(const std::string& resolved) {
    // Up to the nearest object that has a descriptor of its own, then down again by
    // inheritance.
    std::vector<std::string> unstored;
    std::string at = resolved;
    std::optional<SecurityDescription> known;
    for (;;) {
        if ((known = stored_security(at)))
            break;
        const auto parent = parent_object(at);
        if (!parent) {
            known = drive_root_security(drive_root_of(at));
            break;
        }
        unstored.push_back(at);
        at = *parent;
    }
    for (auto it = unstored.rbegin(); it != unstored.rend(); ++it)
        known = derived_child_security(*known, is_container(*it));
    return *known;
}

SecurityDescription derived_child_security(const SecurityDescription& parent, bool container) {
    return new_object_security(parent, container, host_creator(), nullptr);
}

std::string default_owner(const TokenState& token) {
    constexpr DWORD kEnabledOwner = kGroupEnabled | kGroupOwnerAttribute;
    for (const auto& group : token.groups)
        if ((group.attributes & kEnabledOwner) == kEnabledOwner)
            return group.sid;
    return token.user;
}

SecurityDescription new_object_security(const SecurityDescription& parent, bool container,
                                        const TokenState& creator,
                                        const SecurityDescription* requested) {
    SecurityDescription made;
    made.owner =
        requested != nullptr && requested->owner ? *requested->owner : default_owner(creator);
    const auto inherited = parent.dacl ? inherited_entries(*parent.dacl, container, *made.owner)
                                       : std::vector<AccessEntry>{};
    if (requested != nullptr && (requested->control & SE_DACL_PRESENT) != 0) {
        if (!requested->dacl) {
            made.control = SE_DACL_PRESENT;  // a null DACL, as asked
            return made;
        }
        const auto own = explicit_entries(*requested->dacl);
        const bool protect = (requested->control & SE_DACL_PROTECTED) != 0;
        made.control = kAutoInherited | (protect ? SE_DACL_PROTECTED : 0);
        made.dacl = protect ? own : joined_entries(own, inherited);
    } else if (!inherited.empty()) {
        made.control = kAutoInherited;
        made.dacl = inherited;
    } else if (creator.default_dacl) {
        made.control = SE_DACL_PRESENT;
        made.dacl = map_generic_rights(*creator.default_dacl, kFileGenericMapping);
    }
    return made;
}

SecurityDescription reinherited_security(const SecurityDescription& object,
                                         const SecurityDescription& parent, bool container) {
    if ((object.control & SE_DACL_PROTECTED) != 0)
        return object;
    SecurityDescription updated = object;
    const std::string owner = object.owner.value_or(std::string(kAdministratorsSid));
    const auto own = object.dacl ? explicit_entries(*object.dacl) : std::vector<AccessEntry>{};
    const auto inherited = parent.dacl ? inherited_entries(*parent.dacl, container, owner)
                                       : std::vector<AccessEntry>{};
    if (!object.dacl && inherited.empty())
        return object;  // a null DACL stays one until something is inherited
    updated.dacl = joined_entries(own, inherited);
    updated.control = static_cast<WORD>(updated.control | kAutoInherited);
    return updated;
}

}  // namespace winsim
