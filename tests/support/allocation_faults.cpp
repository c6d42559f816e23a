#include "support/allocation_faults.h"

#include <cstdlib>
#include <new>

#include "platform/win32.h"

namespace {

struct AllocationState {
    std::size_t fail_countdown = 0;  // 0: no failure armed
    bool failed = false;
    bool overwrite_error = false;
    std::uint32_t marker = 0;
};

thread_local AllocationState state;

void* allocate(std::size_t size) {
    if (state.overwrite_error)
        SetLastError(state.marker);
    if (state.fail_countdown != 0 && --state.fail_countdown == 0) {
        state.failed = true;
        throw std::bad_alloc();
    }
    if (void* block = std::malloc(size == 0 ? 1 : size))
        return block;
    throw std::bad_alloc();
}

}  // namespace

// The standard library's array forms call these.
void* operator new(std::size_t size) {
    return allocate(size);
}
void operator delete(void* block) noexcept {
    std::free(block);
}
void operator delete(void* block, std::size_t) noexcept {
    std::free(block);
}

namespace quarvel::testing {

FailingAllocation::FailingAllocation(std::size_t nth) {
    state.fail_countdown = nth;
    state.failed = false;
}
FailingAllocation::~FailingAllocation() {
    state.fail_countdown = 0;
}
bool FailingAllocation::hit() const {
    return state.failed;
}

AllocationsOverwriteLastError::AllocationsOverwriteLastError(std::uint32_t marker) {
    state.overwrite_error = true;
    state.marker = marker;
}
AllocationsOverwriteLastError::~AllocationsOverwriteLastError() {
    state.overwrite_error = false;
}

}  // namespace quarvel::testing
