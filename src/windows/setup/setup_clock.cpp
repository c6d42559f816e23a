#include "windows/setup/setup_clock.h"

namespace quarvel {
namespace {

// FILETIME counts 100-nanosecond intervals from 1601-01-01.
constexpr std::uint64_t kIntervalsPerSecond = 10'000'000;
constexpr std::uint64_t kUnixEpoch = 116'444'736'000'000'000;

}  // namespace

Result<std::uint64_t> unix_seconds(FILETIME time) {
    const std::uint64_t intervals =
        (std::uint64_t{time.dwHighDateTime} << 32) | std::uint64_t{time.dwLowDateTime};
    if (intervals < kUnixEpoch)
        return std::unexpected(fixed_failure("system_clock_failed",
                                             "second time provided was later than self",
                                             exit_code::internal));
    return (intervals - kUnixEpoch) / kIntervalsPerSecond;
}

Result<std::uint64_t> seconds_since_unix_epoch() {
    FILETIME now{};
    GetSystemTimeAsFileTime(&now);
    return unix_seconds(now);
}

}  // namespace quarvel
