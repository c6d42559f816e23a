#pragma once
// The security descriptors of files and directories. Each is kept with its file, as the
// extended attribute "user.winsim.security" of the host file (Windows' self-relative binary
// form), so that it follows the file through renames and goes when the file goes, and no file
// call needs a machine-wide document. A file or directory without a stored descriptor (made on
// the host rather than through the simulated calls, or a link, which cannot carry one) has the
// descriptor it would have been given by the machine's elevated administrator: its parent's
// inheritable entries, owner Administrators; a drive root without one has the default of its
// drive.
//
// Objects are named here by their resolved host path: every link followed, or, for a link
// itself, the link's folder resolved and its own name kept.

#include <optional>
#include <string>

#include "security/security_descriptor.h"
#include "security/token.h"

namespace winsim {

// SE_GROUP_OWNER: a group that a token may make the owner of what it creates.
inline constexpr DWORD kGroupOwnerAttribute = 0x08;

// The resolved path of an existing object, the final link followed or (`link_itself`) not.
// Nothing when the object is not there.
std::optional<std::string> resolved_object_path(const std::string& host_path, bool link_itself);

// The resolved path that a new object at `host_path` will have: its folder resolved, its name
// kept. Nothing when the folder does not exist.
std::optional<std::string> resolved_new_path(const std::string& host_path);

// The folder that holds the object, or nothing for a drive root (which inherits from nothing).
std::optional<std::string> parent_object(const std::string& resolved);

// Directories (and links to them) are containers: they pass entries on to their children.
bool is_container(const std::string& resolved);

// The descriptor kept with the object, if any.
std::optional<SecurityDescription> stored_security(const std::string& resolved);

// Keeps `description` with the object. ERROR_SUCCESS, or the Windows error for the host's
// refusal (a link cannot carry one: ERROR_NOT_SUPPORTED).
DWORD store_security(const std::string& resolved, const SecurityDescription& description);

// The object's descriptor as Windows would report it: stored, inherited, or the drive's.
SecurityDescription effective_security(const std::string& resolved);

// The default owner of what `token` creates: its owner group (Administrators in an elevated
// administrator's token), else its user.
std::string default_owner(const TokenState& token);

// The descriptor Windows gives a new object (a directory when `container`) made by `creator`
// inside a folder with descriptor `parent`. `requested` is the descriptor of the creation
// call's security attributes, if any: its owner and explicit DACL are used, and the parent's
// inheritable entries follow unless it is protected. Without one the object gets only the
// inherited entries, or the creator's default DACL when nothing is inheritable.
SecurityDescription new_object_security(const SecurityDescription& parent, bool container,
                                        const TokenState& creator,
                                        const SecurityDescription* requested);

// The descriptor of a child without one of its own inside a folder with descriptor `parent`.
SecurityDescription derived_child_security(const SecurityDescription& parent, bool container);

// The descriptor after the parent's inheritable entries change: explicit entries kept,
// inherited ones replaced; a protected descriptor stays as it is.
SecurityDescription reinherited_security(const SecurityDescription& object,
                                         const SecurityDescription& parent, bool container);

}  // namespace winsim
