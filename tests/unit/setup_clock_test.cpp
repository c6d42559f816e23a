#include <gtest/gtest.h>

#include <cstdint>

#include "windows/setup/setup_clock.h"

namespace quarvel {
namespace {

FILETIME file_time(std::uint64_t intervals) {
    return FILETIME{static_cast<DWORD>(intervals), static_cast<DWORD>(intervals >> 32)};
}

constexpr std::uint64_t kEpoch = 116444736000000000ull;

TEST(UnixSeconds, WholeSecondsSince1970WithTheFractionDropped) {
    EXPECT_EQ(unix_seconds(file_time(kEpoch)), 0u);
    EXPECT_EQ(unix_seconds(file_time(kEpoch + 9'999'999)), 0u);
    EXPECT_EQ(unix_seconds(file_time(kEpoch + 10'000'000)), 1u);
    // 2024-01-01 00:00:00 UTC, with the high part of the FILETIME in use.
    EXPECT_EQ(unix_seconds(file_time(kEpoch + 1'704'067'200ull * 10'000'000 + 5)), 1'704'067'200u);
}

TEST(UnixSeconds, TimeBefore1970FailsWithTheClockFailure) {
    for (const std::uint64_t before : {std::uint64_t{0}, kEpoch - 1, kEpoch - 10'000'000}) {
        const auto seconds = unix_seconds(file_time(before));
        ASSERT_FALSE(seconds) << before;
        EXPECT_EQ(seconds.error(), fixed_failure("system_clock_failed",
                                                 "second time provided was later than self", 70));
    }
}

TEST(UnixSeconds, SystemClockReadsAsATimeAfter2020) {
    const auto now = seconds_since_unix_epoch();
    ASSERT_TRUE(now) << now.error().message;
    EXPECT_GT(*now, 1'577'836'800u);
}

}  // namespace
}  // namespace quarvel
