// The offline rule's user list proves that the rule applies to the account only through an
// allow entry for exactly its SID, among allow entries only.

#include <gtest/gtest.h>

#include <string>

#include "windows/setup/authorized_users.h"

namespace quarvel {
namespace {

constexpr const char* kSid = "S-1-5-21-1000-2000-3000-1005";

std::string list(const std::string& entries) {
    return "O:LSD:" + entries;
}

std::string allow(const std::string& sid, const std::string& rights = "CC",
                  const std::string& flags = "") {
    return "(A;" + flags + ";" + rights + ";;;" + sid + ")";
}

TEST(AuthorizedUsers, OnlyAnAllowEntryForExactlyTheSidAmongAllowEntriesAuthorizesTheAccount) {
    const std::string sid = kSid;
    struct Row {
        const char* what;
        std::string sddl;
        bool authorizes;
    } rows[] = {
        {"what setup writes", list(allow(sid)), true},
        {"beside other allow entries", list(allow("S-1-5-18") + allow(sid) + allow("BU")), true},
        {"protected list", "O:LSD:P" + allow(sid), true},
        {"no owner", "D:" + allow(sid), true},
        {"inheritance flags that still apply", list(allow(sid, "CC", "OICI")), true},
        {"more rights than matching", list(allow(sid, "CCDCLC")), true},
        {"the match right as a number", list(allow(sid, "0x1")), true},
        {"a mask with the match right", list(allow(sid, "0X10003")), true},
        {"a SID that merely begins with it", list(allow(sid + "1")), false},
        {"a SID it merely begins with", list(allow("S-1-5-21-1000-2000-3000-100")), false},
        {"another SID", list(allow("S-1-5-21-1000-2000-3000-1006")), false},
        {"the SID spelled with a lower-case s", list(allow("s-1-5-21-1000-2000-3000-1005")), false},
        {"a deny entry instead of an allow entry", list("(D;;CC;;;" + sid + ")"), false},
        {"a deny entry for a group beside it", list("(D;;CC;;;WD)" + allow(sid)), false},
        {"a deny entry after it", list(allow(sid) + "(D;;CC;;;" + sid + ")"), false},
        {"a callback allow entry", list("(XA;;CC;;;" + sid + ";(@User.x==\"a;)\"))"), false},
        {"an entry type in lower case", list("(a;;CC;;;" + sid + ")"), false},
        {"inherit-only: not for the rule itself", list(allow(sid, "CC", "OIIO")), false},
        {"rights without the match right", list(allow(sid, "GRGW")), false},
        {"a mask without the match right", list(allow(sid, "0x2")), false},
        {"rights that are no codes", list(allow(sid, "CCD")), false},
        {"the SID as owner only", "O:" + sid + "D:" + allow("S-1-5-18"), false},
        {"the SID in the audit list only", list(allow("S-1-5-18")) + "S:(AU;SA;CC;;;" + sid + ")",
         false},
        {"a null list", "O:LSD:NO_ACCESS_CONTROL", false},
        {"an empty list", "O:LSD:", false},
        {"no list", "O:LS", false},
        {"no text", "", false},
        {"text that is no descriptor", "(A;;CC;;;" + sid + ")", false},
        {"text after the entries", list(allow(sid) + "x"), false},
        {"an entry left open", "O:LSD:(A;;CC;;;" + sid, false},
        {"too few fields", list("(A;;CC;;" + sid + ")"), false},
        {"two lists", list(allow(sid)) + "D:" + allow(sid), false},
    };
    for (const auto& row : rows)
        EXPECT_EQ(authorizes_user(row.sddl, sid), row.authorizes) << row.what << ": " << row.sddl;
}

TEST(AuthorizedUsers, AnEmptySidIsNeverAuthorized) {
    EXPECT_FALSE(authorizes_user(list(allow(kSid)), ""));
    EXPECT_FALSE(authorizes_user(list("(A;;CC;;;)"), ""));
}

}  // namespace
}  // namespace quarvel
