// The simulated host's data protection keeps Windows' contract beyond what the program uses:
// user scope belongs to one user, entropy and description travel with the blob, and misuse is
// refused with Windows' errors.

#include <gtest/gtest.h>

#include <winsim/testing.h>

#include <string>
#include <vector>

#include "platform/unique_resource.h"
#include "platform/win32.h"
#include "support/leak_checked_test.h"

namespace quarvel {
namespace {

class SimulatedDataProtection : public testing::LeakCheckedTest {
  protected:
    void TearDown() override {
        winsim::set_process_token_json(winsim::administrator_token_json(true));
        LeakCheckedTest::TearDown();
    }

    static DATA_BLOB blob_of(std::string& bytes) {
        return DATA_BLOB{static_cast<DWORD>(bytes.size()), reinterpret_cast<BYTE*>(bytes.data())};
    }

    // The sealed bytes, copied; empty when protection failed.
    static std::string seal(std::string plain, DWORD flags, std::string entropy = "") {
        DATA_BLOB in = blob_of(plain);
        DATA_BLOB extra = blob_of(entropy);
        DATA_BLOB out{};
        if (!CryptProtectData(&in, WIDE("label"), entropy.empty() ? nullptr : &extra, nullptr,
                              nullptr, flags, &out))
            return {};
        const LocalPtr<BYTE> owner(out.pbData);
        return std::string(reinterpret_cast<char*>(out.pbData), out.cbData);
    }

    // The opened bytes, or the last error as "error N".
    static std::string open(std::string sealed, std::string entropy = "") {
        DATA_BLOB in = blob_of(sealed);
        DATA_BLOB extra = blob_of(entropy);
        DATA_BLOB out{};
        LPWSTR description = nullptr;
        if (!CryptUnprotectData(&in, &description, entropy.empty() ? nullptr : &extra, nullptr,
                                nullptr, CRYPTPROTECT_UI_FORBIDDEN, &out))
            return "error " + std::to_string(GetLastError());
        const LocalPtr<BYTE> owner(out.pbData);
        const LocalPtr<WCHAR> label(description);
        EXPECT_EQ(std::u16string(description), u"label");
        return std::string(reinterpret_cast<char*>(out.pbData), out.cbData);
    }
};

TEST_F(SimulatedDataProtection, UserScopeOpensOnlyForTheSameUserMachineScopeForAnyone) {
    const std::string user_sealed = seal("secret", CRYPTPROTECT_UI_FORBIDDEN);
    const std::string machine_sealed =
        seal("shared", CRYPTPROTECT_UI_FORBIDDEN | CRYPTPROTECT_LOCAL_MACHINE);
    ASSERT_FALSE(user_sealed.empty());
    EXPECT_EQ(open(user_sealed), "secret");

    winsim::ensure_local_user("Alice", "Password-1");
    winsim::set_process_token_json(winsim::account_token_json("Alice"));
    EXPECT_EQ(open(user_sealed), "error 2148073483");
    EXPECT_EQ(open(machine_sealed), "shared");
}

TEST_F(SimulatedDataProtection, EntropyMustMatchAndEveryByteIsSealed) {
    const std::string sealed = seal("secret", CRYPTPROTECT_LOCAL_MACHINE, "pepper");
    EXPECT_EQ(open(sealed, "pepper"), "secret");
    EXPECT_EQ(open(sealed), "error 13");
    EXPECT_EQ(open(sealed, "salt"), "error 13");
    for (std::size_t at = 0; at < sealed.size(); ++at) {
        std::string changed = sealed;
        changed[at] = static_cast<char>(changed[at] ^ 0x01);
        const std::string opened = open(changed, "pepper");
        EXPECT_TRUE(opened == "error 13" || opened == "error 2148073483") << at << ": " << opened;
    }
    EXPECT_EQ(open(sealed.substr(0, sealed.size() - 1), "pepper"), "error 13");
}

TEST_F(SimulatedDataProtection, MisuseIsRefusedWithWindowsErrors) {
    std::string plain = "x";
    DATA_BLOB in = blob_of(plain);
    DATA_BLOB out{};
    int reserved = 0;
    EXPECT_FALSE(CryptProtectData(nullptr, nullptr, nullptr, nullptr, nullptr, 0, &out));
    EXPECT_EQ(GetLastError(), 87u);
    EXPECT_FALSE(CryptProtectData(&in, nullptr, nullptr, nullptr, nullptr, 0, nullptr));
    EXPECT_EQ(GetLastError(), 87u);
    EXPECT_FALSE(CryptProtectData(&in, nullptr, nullptr, &reserved, nullptr, 0, &out));
    EXPECT_EQ(GetLastError(), 87u);
    CRYPTPROTECT_PROMPTSTRUCT prompt{sizeof(CRYPTPROTECT_PROMPTSTRUCT),
                                     CRYPTPROTECT_PROMPT_ON_PROTECT, nullptr, nullptr};
    EXPECT_FALSE(
        CryptProtectData(&in, nullptr, nullptr, nullptr, &prompt, CRYPTPROTECT_UI_FORBIDDEN, &out));
    EXPECT_EQ(GetLastError(), 1325u);
    EXPECT_EQ(out.pbData, nullptr);
}

}  // namespace
}  // namespace quarvel
