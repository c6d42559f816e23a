#pragma once
// A sandbox account as credentials.json stores it, and as the rest of the program uses it once
// its password is unprotected.

#include <string>

namespace quarvel {

// One account of credentials.json: its name and its password after machine-scope data
// protection, as lowercase hexadecimal text.
struct AccountSecret {
    std::string username;
    std::string protected_password;

    bool operator==(const AccountSecret&) const = default;
};

// An account with its plain password (UTF-8).
struct AccountCredential {
    std::string username;
    std::string password;

    bool operator==(const AccountCredential&) const = default;
};

}  // namespace quarvel
