#include "security/security_descriptor.h"

#include <cstring>

#include "security/acl_binary.h"
#include "security/sid.h"

namespace winsim {
namespace {

// Parts of a self-relative block start on 4-byte boundaries; SIDs and ACLs are multiples of 4
// long already, so this only guards against odd input sizes.
void append_part(std::vector<BYTE>& block, const std::vector<BYTE>& part, DWORD& offset) {
    offset = static_cast<DWORD>(block.size());
    block.insert(block.end(), part.begin(), part.end());
    while (block.size() % 4 != 0)
        block.push_back(0);
}

std::optional<std::string> read_sid(const void* sid) {
    if (sid == nullptr)
        return std::nullopt;
    return sid_text(sid);
}

bool sid_is_usable(const void* sid) {
    return sid == nullptr || is_valid_sid(sid);
}

}  // namespace

std::optional<std::vector<BYTE>> self_relative_descriptor(const SecurityDescription& description) {
    SECURITY_DESCRIPTOR_RELATIVE header{};
    header.Revision = SECURITY_DESCRIPTOR_REVISION;
    header.Control =
        static_cast<WORD>((description.control & ~SE_SELF_RELATIVE) | SE_SELF_RELATIVE);
    std::vector<BYTE> block(sizeof(header));
    if (description.owner) {
        const auto owner = sid_from_text(*description.owner);
        if (!owner)
            return std::nullopt;
        append_part(block, *owner, header.Owner);
    }
    if (description.group) {
        const auto group = sid_from_text(*description.group);
        if (!group)
            return std::nullopt;
        append_part(block, *group, header.Group);
    }
    if (description.dacl) {
        const auto acl = acl_from_entries(*description.dacl);
        if (!acl)
            return std::nullopt;
        append_part(block, *acl, header.Dacl);
        header.Control |= SE_DACL_PRESENT;
    }
    std::memcpy(block.data(), &header, sizeof(header));
    return block;
}

std::optional<SecurityDescription> read_security_descriptor(const void* descriptor) {
    if (descriptor == nullptr)
        return std::nullopt;
    const auto* bytes = static_cast<const BYTE*>(descriptor);
    const void* owner = nullptr;
    const void* group = nullptr;
    const ACL* dacl = nullptr;
    WORD control = 0;
    if (bytes[0] != SECURITY_DESCRIPTOR_REVISION)
        return std::nullopt;
    std::memcpy(&control, bytes + 2, sizeof(control));
    if ((control & SE_SELF_RELATIVE) != 0) {
        SECURITY_DESCRIPTOR_RELATIVE header;
        std::memcpy(&header, bytes, sizeof(header));
        if (header.Owner != 0)
            owner = bytes + header.Owner;
        if (header.Group != 0)
            group = bytes + header.Group;
        if (header.Dacl != 0)
            dacl = reinterpret_cast<const ACL*>(bytes + header.Dacl);
    } else {
        SECURITY_DESCRIPTOR header;
        std::memcpy(&header, bytes, sizeof(header));
        owner = header.Owner;
        group = header.Group;
        dacl = header.Dacl;
    }
    if (!sid_is_usable(owner) || !sid_is_usable(group))
        return std::nullopt;

    SecurityDescription description;
    description.control = static_cast<WORD>(control & ~SE_SELF_RELATIVE);
    description.owner = read_sid(owner);
    description.group = read_sid(group);
    if ((control & SE_DACL_PRESENT) != 0 && dacl != nullptr) {
        auto entries = entries_from_acl(dacl);
        if (!entries)
            return std::nullopt;
        description.dacl = std::move(*entries);
    }
    return description;
}

ACCESS_MASK map_generic_rights(ACCESS_MASK mask, const GenericMapping& mapping) {
    const struct {
        ACCESS_MASK generic;
        ACCESS_MASK specific;
    } rows[] = {
        {GENERIC_READ, mapping.read},
        {GENERIC_WRITE, mapping.write},
        {GENERIC_EXECUTE, mapping.execute},
        {GENERIC_ALL, mapping.all},
    };
    for (const auto& row : rows) {
        if ((mask & row.generic) != 0)
            mask = (mask & ~row.generic) | row.specific;
    }
    return mask;
}

std::vector<AccessEntry> map_generic_rights(std::vector<AccessEntry> entries,
                                            const GenericMapping& mapping) {
    for (auto& entry : entries)
        entry.mask = map_generic_rights(entry.mask, mapping);
    return entries;
}

}  // namespace winsim
