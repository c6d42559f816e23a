// The access check that the simulated host applies to the objects it guards (pipes, files,
// desktops): Windows' order of entries, deny-only groups and restricted tokens.

#include <gtest/gtest.h>

#include <winsim/testing.h>

#include <initializer_list>
#include <string>

namespace quarvel {
namespace {

constexpr const char* kUser = "S-1-5-21-7-7-7-1001";
constexpr const char* kGroup = "S-1-5-21-7-7-7-2001";
constexpr const char* kDenyOnly = "S-1-5-21-7-7-7-2002";
constexpr const char* kDisabled = "S-1-5-21-7-7-7-2003";
constexpr const char* kCapability = "S-1-15-3-1024-5";
constexpr const char* kLogon = "S-1-5-5-0-42";

std::string token(const std::string& extra = "") {
    return std::string(R"({"user": ")") + kUser +
           R"(", "groups": [{"sid": "S-1-1-0", "attributes": 7},
        {"sid": ")" +
           kGroup + R"(", "attributes": 7}, {"sid": ")" + kDenyOnly +
           R"(", "attributes": 16}, {"sid": ")" + kDisabled + R"(", "attributes": 0},
        {"sid": ")" +
           kLogon + R"(", "attributes": 3221225479}])" + extra + "}";
}

std::string entry(int type, unsigned mask, const std::string& sid, int flags = 0) {
    return R"({"type": )" + std::to_string(type) + R"(, "flags": )" + std::to_string(flags) +
           R"(, "mask": )" + std::to_string(mask) + R"(, "sid": ")" + sid + "\"}";
}
std::string allow(unsigned mask, const std::string& sid, int flags = 0) {
    return entry(0, mask, sid, flags);
}
std::string deny(unsigned mask, const std::string& sid) {
    return entry(1, mask, sid);
}

// A DACL in the JSON form: the entries as a list. Built by appending, not with "[" + ...:
// GCC 12 at -O3 takes a prefixing operator+ for an overlapping copy (-Wrestrict).
std::string list(std::initializer_list<std::string> entries) {
    std::string text = "[";
    for (const auto& entry : entries) {
        if (text.size() > 1)
            text += ',';
        text += entry;
    }
    text += ']';
    return text;
}

const std::string kRestricted =
    std::string(R"(, "restricting_sids": [{"sid": ")") + kCapability + R"("}])";
const std::string kWriteRestricted =
    std::string(R"(, "write_restricted": true, "restricting_sids": [{"sid": ")") + kCapability +
    R"("}])";
constexpr DWORD kRead = 0x1;
constexpr DWORD kWrite = 0x2;

TEST(SimulatedAccessCheck, AppliesEntriesInOrderAsWindowsDoes) {
    const struct {
        const char* what;
        std::string token;
        std::string dacl;
        DWORD desired;
        bool granted;
    } cases[] = {
        {"no DACL grants all", token(), "null", 0xFFFF, true},
        {"empty DACL grants nothing", token(), "[]", kRead, false},
        {"nothing asked, nothing refused", token(), "[]", 0, true},
        {"user allowed", token(), list({allow(kRead, kUser)}), kRead, true},
        {"partly allowed is refused", token(), list({allow(kRead, kUser)}), kRead | kWrite, false},
        {"grants accumulate", token(), list({allow(kRead, kUser), allow(kWrite, kGroup)}),
         kRead | kWrite, true},
        {"deny first wins", token(), list({deny(kWrite, kGroup), allow(3, "S-1-1-0")}),
         kRead | kWrite, false},
        {"deny of other rights is no refusal", token(),
         list({deny(kWrite, kGroup), allow(3, "S-1-1-0")}), kRead, true},
        {"deny after the grant is too late", token(),
         list({allow(3, "S-1-1-0"), deny(kWrite, kGroup)}), kRead | kWrite, true},
        {"deny-only group gets no grant", token(), list({allow(kRead, kDenyOnly)}), kRead, false},
        {"deny-only group meets its denial", token(),
         list({deny(kRead, kDenyOnly), allow(kRead, "S-1-1-0")}), kRead, false},
        {"disabled group gets no grant", token(), list({allow(kRead, kDisabled)}), kRead, false},
        {"disabled group is not denied", token(),
         list({deny(kRead, kDisabled), allow(kRead, "S-1-1-0")}), kRead, true},
        {"inherit-only entries do not apply", token(), list({allow(kRead, kUser, 0x8)}), kRead,
         false},
        {"unknown SID does not match", token(), list({allow(kRead, "S-1-5-21-7-7-7-9999")}), kRead,
         false},
        {"restricted: normal SIDs alone are not enough", token(kRestricted),
         list({allow(3, kUser)}), kRead, false},
        {"restricted: both checks pass", token(kRestricted),
         list({allow(3, kUser), allow(kRead, kCapability)}), kRead, true},
        {"restricted: restricting SIDs limit the rights", token(kRestricted),
         list({allow(3, kUser), allow(kRead, kCapability)}), kWrite, false},
        {"restricted: restricting SIDs alone are not enough", token(kRestricted),
         list({allow(3, kCapability)}), kRead, false},
        {"write-restricted: reads need normal SIDs only", token(kWriteRestricted),
         list({allow(3, kUser)}), kRead, true},
        {"write-restricted: writes need a restricting SID", token(kWriteRestricted),
         list({allow(3, kUser)}), kWrite, false},
        {"write-restricted: writes pass with both", token(kWriteRestricted),
         list({allow(3, kUser), allow(kWrite, kCapability)}), kRead | kWrite, true},
        {"write-restricted: denial of a restricting SID", token(kWriteRestricted),
         list({deny(kWrite, kCapability), allow(3, kUser), allow(3, kCapability)}), kWrite, false},
    };
    for (const auto& c : cases)
        EXPECT_EQ(winsim::evaluate_access(c.token, c.dacl, c.desired, kWrite), c.granted) << c.what;
}

TEST(SimulatedAccessCheck, AWriteRestrictedTokenIsCheckedForTheFileWriteRightsOnly) {
    // What GENERIC_WRITE maps to for files, less what reading and executing map to, with
    // DELETE, WRITE_DAC, WRITE_OWNER and ACCESS_SYSTEM_SECURITY.
    constexpr DWORD kFileWriteRights = 0x010D0116;
    constexpr DWORD kFileGenericRead = 0x00120089;
    const std::string user_may_all = list({allow(0x001F01FF, kUser)});
    EXPECT_TRUE(winsim::evaluate_access(token(kWriteRestricted), user_may_all, kFileGenericRead,
                                        kFileWriteRights));
    for (const DWORD write : {0x2u, 0x100u, 0x10000u, 0x40000u, 0x80000u})
        EXPECT_FALSE(
            winsim::evaluate_access(token(kWriteRestricted), user_may_all, write, kFileWriteRights))
            << write;
    // Deleting children is not among them.
    EXPECT_TRUE(
        winsim::evaluate_access(token(kWriteRestricted), user_may_all, 0x40, kFileWriteRights));
}

}  // namespace
}  // namespace quarvel
