#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "windows/security/sid_conversion.h"

namespace quarvel {
namespace {

std::vector<BYTE> bytes_of(const OwnedSid& sid) {
    const auto* first = static_cast<const BYTE*>(sid.get());
    return {first, first + sid.size()};
}

TEST(SidFromString, EveryoneIsTheTwelveByteWellKnownSidAndFormatsBack) {
    const auto everyone = sid_from_string("S-1-1-0");
    ASSERT_TRUE(everyone.has_value()) << everyone.error().message;
    const std::vector<BYTE> expected = {1, 1, 0, 0, 0, 0, 0, 1, 0, 0, 0, 0};
    EXPECT_EQ(bytes_of(*everyone), expected);
    EXPECT_EQ(sid_to_string(everyone->get()), "S-1-1-0");
}

TEST(SidFromString, LaysOutSubAuthoritiesLittleEndian) {
    const auto sid = sid_from_string("S-1-5-21-16909060-4294967295-7-1001");
    ASSERT_TRUE(sid.has_value()) << sid.error().message;
    const std::vector<BYTE> expected = {1,  5, 0, 0, 0,    0, 0, 5,                      //
                                        21, 0, 0, 0, 4,    3, 2, 1, 255, 255, 255, 255,  //
                                        7,  0, 0, 0, 0xE9, 3, 0, 0};
    EXPECT_EQ(bytes_of(*sid), expected);
    EXPECT_EQ(sid_to_string(sid->get()), "S-1-5-21-16909060-4294967295-7-1001");
}

TEST(SidFromString, RoundTripsTheSidsTheProgramUses) {
    for (const char* text : {"S-1-5-32-544", "S-1-5-32-545", "S-1-5-18", "S-1-5-11",
                             "S-1-5-5-0-123456", "S-1-15-3-1024-1-2-3-4-5-6-7-8"}) {
        const auto sid = sid_from_string(text);
        ASSERT_TRUE(sid.has_value()) << text;
        EXPECT_EQ(sid_to_string(sid->get()), text);
    }
}

TEST(SidFromString, AcceptsALowerCaseSAndWritesTheStandardForm) {
    const auto sid = sid_from_string("s-1-5-32-544");
    ASSERT_TRUE(sid.has_value());
    EXPECT_EQ(sid_to_string(sid->get()), "S-1-5-32-544");
}

TEST(SidFromString, MalformedTextFailsWithInvalidSidAndWindowsError1337) {
    // Texts that no Windows implementation reads as a SID. (Wine is lenient with some others,
    // such as trailing dashes and leading blanks; the host lane checks those separately.)
    for (const char* text : {"S", "S-", "S-1", "S-1-", "X-1-1-0", "S-2-1-0", "S-1--1", "S-1-1-a",
                             "everyone", "WD-1"}) {
        const auto sid = sid_from_string(text);
        if (sid.has_value()) {
            ADD_FAILURE() << '"' << text << "\" read as "
                          << sid_to_string(sid->get()).value_or("?");
            continue;
        }
        EXPECT_EQ(sid.error().code, "invalid_sid") << text;
        EXPECT_EQ(sid.error().message, "Could not parse security identifier. Windows error 1337.")
            << text;
        EXPECT_EQ(sid.error().exit_code, 70);
    }
}

TEST(SidFromString, ReadsTheAliasesOfWellKnownSids) {
    for (const auto& [alias, text] :
         {std::pair{"WD", "S-1-1-0"}, std::pair{"SY", "S-1-5-18"}, std::pair{"BA", "S-1-5-32-544"},
          std::pair{"BU", "S-1-5-32-545"}, std::pair{"AU", "S-1-5-11"}}) {
        const auto sid = sid_from_string(alias);
        ASSERT_TRUE(sid.has_value()) << alias;
        EXPECT_EQ(sid_to_string(sid->get()), text);
    }
}

TEST(CopySid, CopiesExactlyTheSidsLength) {
    const auto original = sid_from_string("S-1-5-32-544");
    ASSERT_TRUE(original.has_value());
    const auto copy = copy_sid(original->get());
    ASSERT_TRUE(copy.has_value());
    EXPECT_EQ(copy->size(), 16u);
    EXPECT_NE(copy->get(), original->get());
    EXPECT_EQ(bytes_of(*copy), bytes_of(*original));
}

TEST(OwnedSid, KeepsItsBytesInPlaceWhenMoved) {
    auto sid = sid_from_string("S-1-1-0");
    ASSERT_TRUE(sid.has_value());
    const PSID before = sid->get();
    const OwnedSid moved = std::move(*sid);
    EXPECT_EQ(moved.get(), before);
    EXPECT_EQ(sid_to_string(moved.get()), "S-1-1-0");
}

}  // namespace
}  // namespace quarvel
