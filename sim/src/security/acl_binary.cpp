#include "security/acl_binary.h"

#include <cstring>

#include "security/sid.h"

namespace winsim {
namespace {

constexpr std::size_t kAceFixedPart = 8;  // ACE_HEADER + Mask

}  // namespace

std::optional<std::vector<BYTE>> acl_from_entries(const std::vector<AccessEntry>& entries) {
    std::vector<BYTE> acl(sizeof(ACL));
    for (const auto& entry : entries) {
        const auto sid = sid_from_text(entry.sid);
        if (!sid)
            return std::nullopt;
        const ACE_HEADER header{entry.type, entry.flags,
                                static_cast<WORD>(kAceFixedPart + sid->size())};
        const std::size_t at = acl.size();
        acl.resize(at + header.AceSize);
        std::memcpy(acl.data() + at, &header, sizeof(header));
        std::memcpy(acl.data() + at + sizeof(header), &entry.mask, sizeof(entry.mask));
        std::memcpy(acl.data() + at + kAceFixedPart, sid->data(), sid->size());
    }
    const ACL header{ACL_REVISION, 0, static_cast<WORD>(acl.size()),
                     static_cast<WORD>(entries.size()), 0};
    std::memcpy(acl.data(), &header, sizeof(header));
    return acl;
}

std::optional<std::vector<AccessEntry>> entries_from_acl(const ACL* acl) {
    if (acl == nullptr || acl->AclRevision < ACL_REVISION || acl->AclRevision > 4 ||
        acl->AclSize < sizeof(ACL))
        return std::nullopt;
    const auto* bytes = reinterpret_cast<const BYTE*>(acl);
    std::vector<AccessEntry> entries;
    std::size_t at = sizeof(ACL);
    for (WORD k = 0; k < acl->AceCount; ++k) {
        ACE_HEADER header;
        if (at + kAceFixedPart > acl->AclSize)
            return std::nullopt;
        std::memcpy(&header, bytes + at, sizeof(header));
        if (header.AceSize < kAceFixedPart + 8 || at + header.AceSize > acl->AclSize)
            return std::nullopt;
        if (header.AceType != ACCESS_ALLOWED_ACE_TYPE && header.AceType != ACCESS_DENIED_ACE_TYPE)
            return std::nullopt;
        const BYTE* sid = bytes + at + kAceFixedPart;
        if (!is_valid_sid(sid) || kAceFixedPart + sid_length(sid) > header.AceSize)
            return std::nullopt;
        AccessEntry entry;
        entry.type = header.AceType;
        entry.flags = header.AceFlags;
        std::memcpy(&entry.mask, bytes + at + sizeof(header), sizeof(entry.mask));
        entry.sid = sid_text(sid);
        entries.push_back(std::move(entry));
        at += header.AceSize;
    }
    return entries;
}

}  // namespace winsim
