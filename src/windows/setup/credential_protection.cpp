#include "windows/setup/credential_protection.h"

#include "platform/unique_resource.h"
#include "platform/utf8_error.h"
#include "windows/security/os_failure.h"
#include "windows/setup/hex_text.h"

namespace quarvel {
namespace {

// No prompt may ever appear (setup and the runner have no one to ask), and the blob belongs to
// the computer, not to the account that happens to run setup.
constexpr DWORD kProtectionFlags = CRYPTPROTECT_UI_FORBIDDEN | CRYPTPROTECT_LOCAL_MACHINE;

DATA_BLOB input_blob(const void* bytes, std::size_t size) {
    // Windows only reads the input blob.
    return DATA_BLOB{static_cast<DWORD>(size), static_cast<BYTE*>(const_cast<void*>(bytes))};
}

// The bytes of a blob Windows handed out, copied into a container of the program's.
template <class Container>
Container copy_of(const DATA_BLOB& blob) {
    if (blob.cbData == 0)
        return {};
    return Container(blob.pbData, blob.pbData + blob.cbData);
}

}  // namespace

Result<std::vector<std::uint8_t>> protect_password(std::string_view password) {
    DATA_BLOB plain = input_blob(password.data(), password.size());
    DATA_BLOB sealed{};
    if (!CryptProtectData(&plain, nullptr, nullptr, nullptr, nullptr, kProtectionFlags, &sealed))
        return std::unexpected(
            os_failure("credential_protection_failed", "Could not protect account credential."));
    const LocalPtr<BYTE> windows_copy(sealed.pbData);
    return copy_of<std::vector<std::uint8_t>>(sealed);
}

Result<AccountCredential> unprotect_credential(AccountSecret secret) {
    const auto blob = decode_hex(secret.protected_password);
    if (!blob)
        return std::unexpected(fixed_failure("setup_required",
                                             "Protected account credential is invalid.",
                                             exit_code::setup_required));

    DATA_BLOB sealed = input_blob(blob->data(), blob->size());
    DATA_BLOB plain{};
    if (!CryptUnprotectData(&sealed, nullptr, nullptr, nullptr, nullptr, kProtectionFlags, &plain))
        return std::unexpected(os_failure("credential_unprotect_failed",
                                          "Could not unlock protected account credential."));
    const LocalPtr<BYTE> windows_copy(plain.pbData);
    std::string password = copy_of<std::string>(plain);
    if (auto invalid = utf8_error_description(password))
        return std::unexpected(
            fixed_failure("credential_decode_failed", *invalid, exit_code::internal));
    return AccountCredential{std::move(secret.username), std::move(password)};
}

}  // namespace quarvel
