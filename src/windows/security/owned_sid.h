#pragma once
// One binary SID in a buffer the program owns.

#include <cstddef>
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

}  // namespace quarvel
