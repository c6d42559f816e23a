#pragma once
// One binary SID in a buffer the program owns.

#include <cstddef>
#include <cstring>
#include <vector>

#include "platform/win32.h"

namespace quarvel {

// Holds exactly the bytes of one SID (the length GetLengthSid reports). Windows reads it
// through get(); the bytes stay where they are when the owner is moved, so structures that
// point into it (ACL entries, SID_AND_ATTRIBUTES arrays) stay valid as long as some owner
// holds it. Released with its owner; no LocalFree applies.
class OwnedSid {
  public:
    explicit OwnedSid(std::vector<BYTE> bytes) : bytes_(std::move(bytes)) {}

    OwnedSid(OwnedSid&&) noexcept = default;
    OwnedSid& operator=(OwnedSid&&) noexcept = default;
    OwnedSid(const OwnedSid&) = delete;
    OwnedSid& operator=(const OwnedSid&) = delete;

    // Windows takes SIDs as non-const pointers even where it only reads them.
    PSID get() const { return const_cast<BYTE*>(bytes_.data()); }
    std::size_t size() const { return bytes_.size(); }

  private:
    std::vector<BYTE> bytes_;
};

// Whether `other`, a valid SID, is the same SID. A SID's length follows from its sub-authority
// count, its second byte: equal counts mean equal lengths, so the bytes compare without reading
// past either SID.
inline bool is_same_sid(const OwnedSid& sid, PSID other) {
    const auto* bytes = static_cast<const BYTE*>(other);
    return bytes[1] == static_cast<const BYTE*>(sid.get())[1] &&
           std::memcmp(other, sid.get(), sid.size()) == 0;
}

}  // namespace quarvel
