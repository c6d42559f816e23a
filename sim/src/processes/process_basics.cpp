// Process identity and time.

#include <winsim/kernel.h>

#include <unistd.h>
#include <chrono>
#include <thread>

DWORD GetCurrentProcessId() {
    return static_cast<DWORD>(::getpid());
}

// The pseudo-handle Windows returns: it is never in the handle table and needs no closing.
HANDLE GetCurrentProcess() {
    return reinterpret_cast<HANDLE>(static_cast<LONG_PTR>(-1));
}

void Sleep(DWORD milliseconds) {
    std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
}

ULONGLONG GetTickCount64() {
    const auto since_boot = std::chrono::steady_clock::now().time_since_epoch();
    return static_cast<ULONGLONG>(
        std::chrono::duration_cast<std::chrono::milliseconds>(since_boot).count());
}
