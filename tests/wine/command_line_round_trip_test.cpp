// Wine's own CommandLineToArgvW splits every generated command line back into its vector.

#include <gtest/gtest.h>

#include "support/command_line_round_trip.h"

namespace quarvel {
namespace {

TEST(CommandLineRoundTrip, WineSplitterGivesBackEveryGeneratedVector) {
    testing::expect_round_trips(5000);
}

}  // namespace
}  // namespace quarvel
