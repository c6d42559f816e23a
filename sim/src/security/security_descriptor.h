#pragma once
// Security descriptors inside the simulated host: the text-and-entries form the rest of the
// simulated host works with, and Windows' binary layouts (self-relative and absolute).

#include <winsim/security_descriptor.h>

#include <optional>
#include <string>
#include <vector>

#include "security/token.h"

namespace winsim {

struct SecurityDescription {
    // SE_* flags; SE_SELF_RELATIVE is a property of a binary form and never kept here.
    WORD control = 0;
    std::optional<std::string> owner;
    std::optional<std::string> group;
    // Absent: the descriptor has no DACL or a null one (SE_DACL_PRESENT tells which); Windows
    // grants every access in both cases.
    std::optional<std::vector<AccessEntry>> dacl;
};

// The self-relative binary form (header, then owner, group and DACL); nothing when a SID text
// is not a SID.
std::optional<std::vector<BYTE>> self_relative_descriptor(const SecurityDescription& description);

// Reads a descriptor in either binary form; nothing when it is malformed (revision, SIDs, ACL).
std::optional<SecurityDescription> read_security_descriptor(const void* descriptor);

// How the generic rights of an object type map onto its specific rights.
struct GenericMapping {
    ACCESS_MASK read;
    ACCESS_MASK write;
    ACCESS_MASK execute;
    ACCESS_MASK all;
};
inline constexpr GenericMapping kFileGenericMapping{FILE_GENERIC_READ, FILE_GENERIC_WRITE,
                                                    FILE_GENERIC_EXECUTE, FILE_ALL_ACCESS};

// The mask with each generic bit replaced by the rights it stands for.
ACCESS_MASK map_generic_rights(ACCESS_MASK mask, const GenericMapping& mapping);

// Windows maps the generic rights of entries when it assigns a DACL to an object, so that
// access checks only ever compare specific rights.
std::vector<AccessEntry> map_generic_rights(std::vector<AccessEntry> entries,
                                            const GenericMapping& mapping);

}  // namespace winsim
