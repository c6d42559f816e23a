// Machine-scope data protection against Wine's crypt32: the round trip through the stored
// hexadecimal text, and blobs that are not this machine's refused.

#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "windows/setup/credential_protection.h"
#include "windows/setup/hex_text.h"

namespace quarvel {
namespace {

constexpr const char* kPassword = "Qv7-correct-horse-battery-staple";
constexpr const char* kUnlockFailed =
    "Could not unlock protected account credential. Windows error ";

Result<AccountCredential> unprotect(std::string text) {
    return unprotect_credential(AccountSecret{"QuarvelSandboxOnline", std::move(text)});
}

void expect_refused(const std::string& text, const char* what) {
    const auto credential = unprotect(text);
    ASSERT_FALSE(credential) << what;
    EXPECT_EQ(credential.error().code, "credential_unprotect_failed") << what;
    EXPECT_EQ(credential.error().message.rfind(kUnlockFailed, 0), 0u)
        << what << ": " << credential.error().message;
    EXPECT_EQ(credential.error().exit_code, 70) << what;
    std::printf("%s under Wine: %s\n", what, credential.error().message.c_str());
}

TEST(CredentialProtectionUnderWine, PasswordComesBackFromItsHexadecimalText) {
    const auto blob = protect_password(kPassword);
    ASSERT_TRUE(blob) << blob.error().message;
    const std::string text = encode_hex(*blob);
    EXPECT_EQ(text.size(), blob->size() * 2);
    EXPECT_EQ(unprotect(text), (AccountCredential{"QuarvelSandboxOnline", kPassword}));
    std::string upper = text;
    for (auto& c : upper)
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    EXPECT_EQ(unprotect(upper), (AccountCredential{"QuarvelSandboxOnline", kPassword}));
}

TEST(CredentialProtectionUnderWine, ForeignBlobIsRefused) {
    expect_refused("00112233445566778899aabbccddeeff", "bytes that are no blob");
    // The header of a blob Windows made (version 1, the DPAPI provider's GUID), sealed with a
    // master key this machine never had.
    expect_refused(
        "01000000d08c9ddf0115d1118c7a00c04fc297eb01000000"
        "5f6c3c2b1a0d4e8f9a7b6c5d4e3f2a1b0000000002000000000003660000c000000010000000"
        "0d1f2e3d4c5b6a79887766554433221100000000048000000a000000010000000000000000",
        "a blob of another machine");
    const auto blob = protect_password(kPassword);
    ASSERT_TRUE(blob) << blob.error().message;
    std::string tampered = encode_hex(*blob);
    const std::size_t at = tampered.size() - 10;
    tampered[at] = tampered[at] == '0' ? '1' : '0';
    expect_refused(tampered, "a blob with one byte changed");
}

TEST(CredentialProtectionUnderWine, MalformedHexadecimalIsRefusedAsSetupRequired) {
    const auto credential = unprotect("abcde");
    ASSERT_FALSE(credential);
    EXPECT_EQ(credential.error(),
              fixed_failure("setup_required", "Protected account credential is invalid.", 78));
}

}  // namespace
}  // namespace quarvel
