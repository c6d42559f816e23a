// oleaut32's BSTRs in the simulated host: the length in bytes in the 4 bytes before the text,
// a terminating zero after it, every string counted until it is freed.

#include <winsim/com.h>
#include <winsim/testing.h>

#include <cstdlib>
#include <cstring>
#include <mutex>
#include <unordered_set>

#include "com/com_runtime.h"
#include "machine/faults.h"

namespace winsim {
namespace {

struct BstrHeap {
    std::mutex mutex;
    std::unordered_set<void*> blocks;
};

BstrHeap& bstr_heap() {
    static BstrHeap instance;
    return instance;
}

}  // namespace

BSTR make_bstr(std::u16string_view text) {
    return SysAllocStringLen(text.data(), static_cast<UINT>(text.size()));
}

std::u16string bstr_text(BSTR text) {
    if (text == nullptr)
        return {};
    return std::u16string(text, SysStringLen(text));
}

std::size_t outstanding_bstrs() {
    auto& heap = bstr_heap();
    std::lock_guard lock(heap.mutex);
    return heap.blocks.size();
}

}  // namespace winsim

BSTR SysAllocStringLen(const OLECHAR* text, UINT length) {
    if (winsim::take_fault("SysAllocStringLen"))
        return nullptr;
    const std::size_t bytes = std::size_t{length} * sizeof(OLECHAR);
    if (bytes > 0xFFFFFFF0u)
        return nullptr;
    auto* block = static_cast<std::uint8_t*>(std::malloc(sizeof(DWORD) + bytes + sizeof(OLECHAR)));
    if (block == nullptr)
        return nullptr;
    const auto prefix = static_cast<DWORD>(bytes);
    std::memcpy(block, &prefix, sizeof(prefix));
    auto* characters = reinterpret_cast<OLECHAR*>(block + sizeof(DWORD));
    if (text != nullptr && length > 0)
        std::memcpy(characters, text, bytes);
    characters[length] = 0;
    auto& heap = winsim::bstr_heap();
    std::lock_guard lock(heap.mutex);
    heap.blocks.insert(block);
    return characters;
}

BSTR SysAllocString(const OLECHAR* text) {
    if (text == nullptr)
        return nullptr;
    return SysAllocStringLen(text, static_cast<UINT>(std::u16string_view(text).size()));
}

void SysFreeString(BSTR text) {
    if (text == nullptr)
        return;
    void* block = reinterpret_cast<std::uint8_t*>(text) - sizeof(DWORD);
    auto& heap = winsim::bstr_heap();
    {
        std::lock_guard lock(heap.mutex);
        // A pointer that is no BSTR of this process is left alone.
        if (heap.blocks.erase(block) == 0)
            return;
    }
    std::free(block);
}

UINT SysStringLen(BSTR text) {
    if (text == nullptr)
        return 0;
    DWORD bytes = 0;
    std::memcpy(&bytes, reinterpret_cast<std::uint8_t*>(text) - sizeof(DWORD), sizeof(bytes));
    return bytes / sizeof(OLECHAR);
}
