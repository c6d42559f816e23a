#pragma once
// Reading one information class of an access token with the size query Windows expects.

#include <cstddef>
#include <cstdint>
#include <string_view>
#include <vector>

#include "cli/failure.h"
#include "platform/win32.h"

namespace quarvel {

// The information Windows wrote, in a zero-filled buffer aligned for the pointers the
// structures hold, and the length Windows reported for it.
struct TokenInformation {
    std::vector<std::uint64_t> storage;
    DWORD length = 0;

    template <class T>
    const T* as() const {
        return reinterpret_cast<const T*>(storage.data());
    }

    // Read as TOKEN_GROUPS: the length Windows reported covers every entry that the list's count
    // names. A list that claims more cannot be trusted to show every group.
    bool holds_whole_group_list() const {
        const std::uint64_t entries_end =
            offsetof(TOKEN_GROUPS, Groups) +
            std::uint64_t{sizeof(SID_AND_ATTRIBUTES)} * as<TOKEN_GROUPS>()->GroupCount;
        return length >= entries_end;
    }
};

// The number of 8-byte words that hold `length` bytes.
std::size_t token_buffer_words(DWORD length);

// Asks for the size first; a size of zero fails with os_failure(code, "Could not size " +
// subject + "."), a failed read with os_failure(code, "Could not read " + subject + ".").
Result<TokenInformation> read_token_information(HANDLE token,
                                                TOKEN_INFORMATION_CLASS information_class,
                                                std::string_view code, std::string_view subject);

// The same with the caller's own message for both failures: os_failure(code, message).
Result<TokenInformation> read_token_information_or(HANDLE token,
                                                   TOKEN_INFORMATION_CLASS information_class,
                                                   std::string_view code, std::string_view message);

}  // namespace quarvel
