// The time of setup on the simulated host: a clock set before 1970 or a clock call made to
// report such a time gives the clock failure.

#include <gtest/gtest.h>

#include <winsim/testing.h>

#include "support/leak_checked_test.h"
#include "windows/setup/setup_clock.h"

namespace quarvel {
namespace {

class SetupClock : public testing::LeakCheckedTest {};

TEST_F(SetupClock, ClockBefore1970GivesTheClockFailure) {
    const Failure expected =
        fixed_failure("system_clock_failed", "second time provided was later than self", 70);
    winsim::set_system_clock(116444736000000000ull - 1);
    EXPECT_EQ(seconds_since_unix_epoch(), Result<std::uint64_t>(std::unexpected(expected)));
    winsim::set_system_clock(116444736000000000ull + 42 * 10'000'000ull);
    EXPECT_EQ(seconds_since_unix_epoch(), 42u);
    winsim::use_host_clock();
    winsim::inject_fault("GetSystemTimeAsFileTime", 5);
    EXPECT_EQ(seconds_since_unix_epoch(), Result<std::uint64_t>(std::unexpected(expected)));
    EXPECT_GT(seconds_since_unix_epoch().value_or(0), 1'577'836'800u);
}

}  // namespace
}  // namespace quarvel
