// kernel32's GetSystemTimeAsFileTime in the simulated host, with a machine clock that tests
// can set.

#include <winsim/system_time.h>
#include <winsim/testing.h>

#include <chrono>
#include <cstdint>

#include "machine/faults.h"
#include "machine/machine.h"

namespace winsim {
namespace {

constexpr const char* kClockState = "clock.json";
// 1601-01-01 to 1970-01-01 in 100-nanosecond intervals.
constexpr std::uint64_t kUnixEpochAsFileTime = 116444736000000000ull;

void report(std::uint64_t intervals, LPFILETIME time) {
    time->dwLowDateTime = static_cast<DWORD>(intervals);
    time->dwHighDateTime = static_cast<DWORD>(intervals >> 32);
}

}  // namespace

void set_system_clock(std::uint64_t filetime) {
    (void)update_machine_state(kClockState, [&](nlohmann::json& state) {
        state["filetime"] = filetime;
        return true;
    });
}

void use_host_clock() {
    (void)update_machine_state(kClockState,
                         [](nlohmann::json& state) { return state.erase("filetime") > 0; });
}

}  // namespace winsim

void GetSystemTimeAsFileTime(LPFILETIME time) {
    using namespace winsim;
    if (auto fault = take_fault("GetSystemTimeAsFileTime")) {
        report(fault->value, time);
        return;
    }
    const auto clock = read_machine_state(kClockState);
    if (clock.contains("filetime") && clock["filetime"].is_number_unsigned()) {
        report(clock["filetime"].get<std::uint64_t>(), time);
        return;
    }
    const auto since_epoch = std::chrono::system_clock::now().time_since_epoch();
    const auto intervals =
        std::chrono::duration_cast<std::chrono::nanoseconds>(since_epoch).count() / 100;
    report(kUnixEpochAsFileTime + static_cast<std::uint64_t>(intervals), time);
}
