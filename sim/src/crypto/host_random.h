#pragma once
// Random bytes from the host's kernel, for the simulated host's own secrets (the machine SID,
// the data-protection key) and for BCryptGenRandom.

#include <cstddef>

namespace winsim {

// Fills `buffer` whole; false when the kernel refuses (anything but an interrupted call).
[[nodiscard]] bool fill_host_random(void* buffer, std::size_t length);

// The same for the simulated host's own needs, where no caller could be told: a host without a
// random source ends the process with a message instead of looping for ever.
void fill_host_random_or_abort(void* buffer, std::size_t length);

}  // namespace winsim
