#pragma once
// Passwords for the protected accounts.

#include <string>

#include "cli/failure.h"

namespace quarvel {

// Always the start of a generated password: an upper-case letter, a lower-case letter, a digit
// and a punctuation character, so that every password meets a complexity rule whatever its
// random part is.
inline constexpr std::string_view kPasswordPrefix = "Qv7!";

// kPasswordPrefix followed by 64 lowercase hexadecimal digits from 32 bytes of the system
// generator: 68 characters. A generator failure: random_generation_failed, "Could not generate
// protected account credential: {status}." with the NTSTATUS as a signed decimal number.
Result<std::string> generate_password();

}  // namespace quarvel
