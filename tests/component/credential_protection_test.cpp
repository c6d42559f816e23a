// Protected account passwords on the simulated host: the round trip through the stored
// hexadecimal text, what is refused before Windows is asked, blobs Windows refuses, and every
// failure a platform call can cause, with every buffer given back.

#include <gtest/gtest.h>

#include <winsim/testing.h>

#include <string>

#include "support/fault_row.h"
#include "support/host_process.h"
#include "support/leak_checked_test.h"
#include "windows/setup/credential_protection.h"
#include "windows/setup/hex_text.h"

namespace quarvel {
namespace {

constexpr const char* kPassword = "Qv7-correct-horse-battery-staple";

class CredentialProtection : public testing::LeakCheckedTest {
  protected:
    std::string protected_text(std::string_view password = kPassword) {
        auto blob = protect_password(password);
        EXPECT_TRUE(blob) << blob.error().message;
        return blob ? encode_hex(*blob) : std::string();
    }

    static Result<AccountCredential> unprotect(std::string text) {
        return unprotect_credential(AccountSecret{"QuarvelSandboxNoNet", std::move(text)});
    }
};

TEST_F(CredentialProtection, PasswordComesBackFromItsHexadecimalTextInEitherCase) {
    const std::string text = protected_text();
    ASSERT_FALSE(text.empty());
    EXPECT_EQ(text.find_first_not_of("0123456789abcdef"), std::string::npos);
    EXPECT_EQ(unprotect(text), (AccountCredential{"QuarvelSandboxNoNet", kPassword}));

    std::string upper = text;
    for (auto& c : upper)
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    EXPECT_EQ(unprotect(upper), (AccountCredential{"QuarvelSandboxNoNet", kPassword}));
}

TEST_F(CredentialProtection, EmptyPasswordRoundTrips) {
    EXPECT_EQ(unprotect(protected_text("")), (AccountCredential{"QuarvelSandboxNoNet", ""}));
}

TEST_F(CredentialProtection, MalformedHexadecimalIsRefusedBeforeWindowsIsAsked) {
    const std::string good = protected_text();
    ASSERT_GE(good.size(), 10u);
    // Appended, not prefixed with operator+: GCC 12 at -O3 takes the prefixing for an
    // overlapping copy (-Wrestrict).
    const auto in_front = [&good](std::string head, std::size_t from) {
        return head.append(good, from);
    };
    const std::string rows[] = {
        "abcde",
        good.substr(0, good.size() - 1),
        in_front("g", 1),
        good.substr(0, 6) + "g" + good.substr(7),
        good.substr(0, good.size() - 1) + "g",
        in_front(" ", 1),
        good.substr(0, 8) + " " + good.substr(9),
        in_front("\xC3\xA9", 2),
        good.substr(0, 4) + "\xC3\xA9" + good.substr(6),
    };
    for (const auto& row : rows) {
        winsim::inject_fault("CryptUnprotectData", ERROR_ACCESS_DENIED);
        const auto credential = unprotect(row);
        ASSERT_FALSE(credential) << row;
        EXPECT_EQ(credential.error(),
                  fixed_failure("setup_required", "Protected account credential is invalid.", 78))
            << row;
        EXPECT_EQ(winsim::pending_fault_count(), 1u) << "Windows was asked for " << row;
        winsim::clear_faults();
    }
}

TEST_F(CredentialProtection, BlobsWindowsRefusesFailToUnlock) {
    const std::string good = protected_text();
    std::string tampered = good;
    tampered[tampered.size() / 2] = tampered[tampered.size() / 2] == '0' ? '1' : '0';
    struct Row {
        const char* name;
        std::string text;
        const char* message;
    } rows[] = {
        {"not a blob", "00112233445566778899",
         "Could not unlock protected account credential. Windows error 13."},
        {"empty", "", "Could not unlock protected account credential. Windows error 13."},
        {"one byte changed", tampered,
         "Could not unlock protected account credential. Windows error 13."},
    };
    for (const auto& row : rows) {
        const auto credential = unprotect(row.text);
        ASSERT_FALSE(credential) << row.name;
        EXPECT_EQ(credential.error(), fixed_failure("credential_unprotect_failed", row.message, 70))
            << row.name;
    }
}

TEST_F(CredentialProtection, BlobOfAnotherMachineFailsToUnlock) {
    const std::string text = protected_text();
    machine_ = testing::use_fresh_machine();
    const auto credential = unprotect(text);
    ASSERT_FALSE(credential);
    // NTE_BAD_KEY_STATE: the key that sealed it is not on this machine.
    EXPECT_EQ(credential.error(),
              fixed_failure("credential_unprotect_failed",
                            "Could not unlock protected account credential. Windows error "
                            "2148073483.",
                            70));
}

TEST_F(CredentialProtection, UnprotectedBytesThatAreNotUtf8FailToDecode) {
    const auto credential = unprotect(protected_text("pass\xFFword"));
    ASSERT_FALSE(credential);
    EXPECT_EQ(credential.error(),
              fixed_failure("credential_decode_failed",
                            "invalid utf-8 sequence of 1 bytes from index 4", 70));
}

TEST_F(CredentialProtection, EveryPlatformFailureGivesItsRowAndReleasesEverything) {
    const std::string text = protected_text();
    const testing::FaultRow protect_rows[] = {
        {"CryptProtectData", 1, 5, winsim::FaultKind::fail, "credential_protection_failed",
         "Could not protect account credential. Windows error 5."},
        // The blob's own buffer cannot be had.
        {"LocalAlloc", 1, 8, winsim::FaultKind::fail, "credential_protection_failed",
         "Could not protect account credential. Windows error 8."},
    };
    for (const auto& row : protect_rows) {
        testing::arm(row);
        const auto blob = protect_password(kPassword);
        ASSERT_FALSE(blob) << row.function;
        testing::expect_row_failure(blob.error(), row);
        EXPECT_EQ(blob.error().message, row.message);
        EXPECT_EQ(winsim::outstanding_local_allocations(), allocations_) << row.function;
    }
    const testing::FaultRow unprotect_rows[] = {
        {"CryptUnprotectData", 1, 1326, winsim::FaultKind::fail, "credential_unprotect_failed",
         "Could not unlock protected account credential. Windows error 1326."},
        {"LocalAlloc", 1, 14, winsim::FaultKind::fail, "credential_unprotect_failed",
         "Could not unlock protected account credential. Windows error 14."},
    };
    for (const auto& row : unprotect_rows) {
        testing::arm(row);
        const auto credential = unprotect(text);
        ASSERT_FALSE(credential) << row.function;
        testing::expect_row_failure(credential.error(), row);
        EXPECT_EQ(credential.error().message, row.message);
        EXPECT_EQ(winsim::outstanding_local_allocations(), allocations_) << row.function;
    }
    EXPECT_EQ(winsim::pending_fault_count(), 0u);
}

}  // namespace
}  // namespace quarvel
