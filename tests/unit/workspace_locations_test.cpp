// What a run grants, before anything touches Windows: the capability SID's form and the folding
// of the two location lists.

#include <gtest/gtest.h>

#include "windows/runner/capability_sid.h"
#include "windows/runner/workspace_locations.h"

namespace quarvel {
namespace {

TEST(CapabilitySid, FourBigEndianNumbersFromTheRandomBytes) {
    EXPECT_EQ(capability_sid_from_hex("000000010000000affffffff80000000").value(),
              "S-1-5-21-1-10-4294967295-2147483648");
    const auto made = make_capability_sid();
    ASSERT_TRUE(made) << made.error().message;
    EXPECT_TRUE(made->starts_with("S-1-5-21-"));
    EXPECT_EQ(std::count(made->begin(), made->end(), '-'), 7) << *made;
    EXPECT_NE(*made, make_capability_sid().value());
}

TEST(CapabilitySid, DigitsThatAreNotHexadecimalAreAnInternalFailure) {
    const auto refused = capability_sid_from_hex("0000000g0000000a0000000000000000");
    ASSERT_FALSE(refused);
    EXPECT_EQ(refused.error(),
              fixed_failure("capability_sid_failed", "invalid digit found in string", 70));
}

TEST(WorkspaceLocations, RepeatsFoldByAsciiCaseAndCwdComesFirst) {
    SandboxPolicy policy;
    policy.cwd = to_wide("C:\\Work\\Project");
    policy.writable_roots = {to_wide("c:\\work\\PROJECT"), to_wide("C:\\out"),
                             to_wide("C:\\OUT"), to_wide("C:\\Out\\")};
    policy.readable_roots = {to_wide("C:\\tools"), to_wide("c:\\TOOLS"),
                             to_wide("C:\\work\\project")};
    const auto locations = workspace_locations(policy);
    EXPECT_EQ(locations.writable,
              (std::vector<WideString>{to_wide("C:\\Work\\Project"), to_wide("C:\\out"),
                                       to_wide("C:\\Out\\")}));
    EXPECT_EQ(locations.readable,
              (std::vector<WideString>{to_wide("C:\\tools"), to_wide("C:\\work\\project")}));
}

TEST(WorkspaceLocations, OnlyAsciiLettersFold) {
    SandboxPolicy policy;
    policy.cwd = to_wide("C:\\\xC3\x89t\xC3\xA9");             // Été
    policy.writable_roots = {to_wide("C:\\\xC3\xA9t\xC3\xA9")};  // été
    EXPECT_EQ(workspace_locations(policy).writable.size(), 2u);
}

}  // namespace
}  // namespace quarvel
