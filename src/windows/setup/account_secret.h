#pragma once
// A protected account's name with its password: stored protected in credentials.json, and
// unprotected in memory for the length of one operation.

#include <string>

namespace quarvel {

// As credentials.json holds it: the password after machine-scope data protection, as lowercase
// hexadecimal text.
struct AccountSecret {
    std::string username;
    std::string protected_password;

    bool operator==(const AccountSecret&) const = default;
};

// The account name and its plain UTF-8 password.
struct AccountCredential {
    std::string username;
    std::string password;

    bool operator==(const AccountCredential&) const = default;
};

}  // namespace quarvel
