#pragma once
// Host-lane test aid: the test binary's own operator new, which a test can make fail or make
// disturb the thread's last Windows error, to reach what no simulated call can: a thread that
// cannot be started for want of memory, code that allocates between a failing call and reading
// its error. Only the calling thread's allocations are affected, only while the guard lives.

#include <cstddef>
#include <cstdint>

namespace quarvel::testing {

// The nth allocation from now (1 = the next) throws std::bad_alloc.
class FailingAllocation {
  public:
    explicit FailingAllocation(std::size_t nth);
    ~FailingAllocation();
    FailingAllocation(const FailingAllocation&) = delete;
    FailingAllocation& operator=(const FailingAllocation&) = delete;
    // Whether the failure happened.
    bool hit() const;
};

// Every allocation sets the thread's last error to `marker` first.
class AllocationsOverwriteLastError {
  public:
    explicit AllocationsOverwriteLastError(std::uint32_t marker);
    ~AllocationsOverwriteLastError();
    AllocationsOverwriteLastError(const AllocationsOverwriteLastError&) = delete;
    AllocationsOverwriteLastError& operator=(const AllocationsOverwriteLastError&) = delete;
};

}  // namespace quarvel::testing
