#include <winsim/kernel.h>
#include <winsim/testing.h>

#include <cstdlib>
#include <cstring>
#include <mutex>
#include <unordered_set>

#include "machine/faults.h"
#include "machine/object.h"

namespace {

struct LocalHeap {
    std::mutex mutex;
    std::unordered_set<void*> blocks;
};

LocalHeap& heap() {
    static LocalHeap instance;
    return instance;
}

}  // namespace

HLOCAL LocalAlloc(UINT flags, SIZE_T bytes) {
    if (auto fault = winsim::take_fault("LocalAlloc")) {
        SetLastError(fault->value);
        return nullptr;
    }
    void* block = std::malloc(bytes == 0 ? 1 : bytes);
    if (block == nullptr) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return nullptr;
    }
    if ((flags & LMEM_ZEROINIT) != 0)
        std::memset(block, 0, bytes == 0 ? 1 : bytes);
    auto& local = heap();
    std::lock_guard lock(local.mutex);
    local.blocks.insert(block);
    return block;
}

HLOCAL LocalFree(HLOCAL memory) {
    if (memory == nullptr)
        return nullptr;
    auto& local = heap();
    {
        std::lock_guard lock(local.mutex);
        if (local.blocks.erase(memory) == 0) {
            // Windows reports a bad block by returning it unchanged.
            SetLastError(ERROR_INVALID_HANDLE);
            return memory;
        }
    }
    std::free(memory);
    return nullptr;
}

namespace winsim {

std::size_t outstanding_local_allocations() {
    auto& local = heap();
    std::lock_guard lock(local.mutex);
    return local.blocks.size();
}

}  // namespace winsim
