// The simulated host's splitter (the CommandLineToArgvW the host lane runs) gives back every
// generated vector; the Wine lane runs the same vectors against Wine's CommandLineToArgvW, so
// the two splitters are held to the same answers.

#include <gtest/gtest.h>

#include <winsim/testing.h>

#include "support/command_line_round_trip.h"

namespace quarvel {
namespace {

TEST(CommandLineRoundTrip, SimulatedSplitterGivesBackEveryGeneratedVector) {
    const auto before = winsim::outstanding_local_allocations();
    testing::expect_round_trips(5000);
    EXPECT_EQ(winsim::outstanding_local_allocations(), before);
}

}  // namespace
}  // namespace quarvel
