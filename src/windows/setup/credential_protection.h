#pragma once
// The sandbox accounts' passwords are stored only after data protection in machine scope: any
// account of this computer can open them, no other computer can. Who may read the file at all
// is up to the state directory's access rules.

#include <cstdint>
#include <string_view>
#include <vector>

#include "cli/failure.h"
#include "windows/setup/account_secret.h"

namespace quarvel {

// The blob CryptProtectData makes of the password's UTF-8 bytes (no terminating zero), with
// CRYPTPROTECT_UI_FORBIDDEN | CRYPTPROTECT_LOCAL_MACHINE. Fails with
// credential_protection_failed, "Could not protect account credential." + the Windows error.
Result<std::vector<std::uint8_t>> protect_password(std::string_view password);

// The account with its password opened again. Codes, in the order they are checked:
//   setup_required (78) "Protected account credential is invalid." for text that is not pairs
//     of hexadecimal digits (either case), before Windows is asked;
//   credential_unprotect_failed "Could not unlock protected account credential." + the Windows
//     error, for a blob Windows refuses (damaged, or sealed on another computer);
//   credential_decode_failed, the UTF-8 decoder's description, for a password that is not UTF-8.
Result<AccountCredential> unprotect_credential(AccountSecret secret);

}  // namespace quarvel
