// The simulated host's SID calls: the text it accepts (stricter than Wine, which reads
// trailing junk and leading blanks), Windows' binary layout and results, and the buffers it
// hands out.

#include <gtest/gtest.h>

#include <winsim/testing.h>

#include <string>
#include <vector>

#include "platform/unique_resource.h"
#include "platform/wide_text.h"
#include "platform/win32.h"

namespace quarvel {
namespace {

LocalPtr<void> convert(const char* text) {
    LocalPtr<void> sid;
    ConvertStringSidToSidW(to_wide(text).c_str(), sid.put());
    return sid;
}

std::string format(PSID sid) {
    LocalPtr<WCHAR> text;
    if (!ConvertSidToStringSidW(sid, text.put()))
        return "error " + std::to_string(GetLastError());
    return narrow_lossy(text.get());
}

TEST(SimulatedSid, RejectsTextThatIsNotExactlyASid) {
    for (const char* text :
         {"", " S-1-1-0", "S-1-1-0 ", "S-1-1-0-", "S-1-1-0x", "S-1-1-+1", "S-1-1--1",
          "S-1-1-4294967296", "S-1-281474976710656-1", "S-1-0x1000000000000-1", "S-1-0x-1",
          "S-1-5-1-2-3-4-5-6-7-8-9-10-11-12-13-14-15-16", "S\xC3\xA9-1-1-0"}) {
        SetLastError(0);
        const auto sid = convert(text);
        EXPECT_FALSE(sid.valid()) << '"' << text << '"';
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_SID)) << text;
    }
}

TEST(SimulatedSid, AcceptsTheFormsWindowsWrites) {
    const struct {
        const char* text;
        const char* standard;
    } cases[] = {
        {"S-1-0", "S-1-0"},
        {"S-1-5-32-544", "S-1-5-32-544"},
        {"s-1-5-32-544", "S-1-5-32-544"},
        {"S-1-0x0000000005-18", "S-1-5-18"},
        {"S-1-0x123456789ABC-7", "S-1-0x123456789ABC-7"},
        {"S-1-0xabcdef012345-7", "S-1-0xABCDEF012345-7"},
        {"S-1-4294967295-0", "S-1-4294967295-0"},
        {"S-1-4294967296-0", "S-1-0x000100000000-0"},
        {"S-1-5-1-2-3-4-5-6-7-8-9-10-11-12-13-14-15", "S-1-5-1-2-3-4-5-6-7-8-9-10-11-12-13-14-15"},
        {"WD", "S-1-1-0"},
        {"LW", "S-1-16-4096"},
    };
    for (const auto& c : cases) {
        const auto sid = convert(c.text);
        ASSERT_TRUE(sid.valid()) << c.text;
        EXPECT_EQ(format(sid.get()), c.standard) << c.text;
        EXPECT_TRUE(IsValidSid(sid.get()));
    }
}

TEST(SimulatedSid, TheLongestSidIsSixtyEightBytes) {
    const auto sid = convert("S-1-5-1-2-3-4-5-6-7-8-9-10-11-12-13-14-15");
    ASSERT_TRUE(sid.valid());
    EXPECT_EQ(GetLengthSid(sid.get()), static_cast<DWORD>(SECURITY_MAX_SID_SIZE));
}

TEST(SimulatedSid, CopySidNeedsRoomForTheWholeSid) {
    const auto sid = convert("S-1-5-32-544");
    ASSERT_TRUE(sid.valid());
    std::vector<BYTE> room(15, 0xEE);
    SetLastError(0);
    EXPECT_FALSE(CopySid(15, room.data(), sid.get()));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
    EXPECT_EQ(room, std::vector<BYTE>(15, 0xEE));
    room.resize(16);
    EXPECT_TRUE(CopySid(16, room.data(), sid.get()));
    EXPECT_EQ(format(room.data()), "S-1-5-32-544");
}

TEST(SimulatedSid, BinaryThatIsNotASidIsRefusedEverywhere) {
    BYTE wrong_revision[12] = {2, 1, 0, 0, 0, 0, 0, 1, 0, 0, 0, 0};
    BYTE too_many[8 + 4 * 16] = {1, 16};
    for (PSID bad : {static_cast<PSID>(wrong_revision), static_cast<PSID>(too_many)}) {
        EXPECT_FALSE(IsValidSid(bad));
        SetLastError(0);
        EXPECT_EQ(GetLengthSid(bad), 0u);
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_SID));
        BYTE room[68];
        EXPECT_FALSE(CopySid(sizeof(room), room, bad));
        EXPECT_EQ(format(bad), "error 1337");
    }
}

TEST(SimulatedSid, ConvertedSidsAndTextsAreLocalAllocations) {
    const auto before = winsim::outstanding_local_allocations();
    {
        const auto sid = convert("S-1-1-0");
        EXPECT_EQ(winsim::outstanding_local_allocations(), before + 1);
        LocalPtr<WCHAR> text;
        ASSERT_TRUE(ConvertSidToStringSidW(sid.get(), text.put()));
        EXPECT_EQ(winsim::outstanding_local_allocations(), before + 2);
    }
    EXPECT_EQ(winsim::outstanding_local_allocations(), before);
    EXPECT_FALSE(convert("bad").valid());
    EXPECT_EQ(winsim::outstanding_local_allocations(), before);
}

}  // namespace
}  // namespace quarvel
