#include "windows/channel/protected_pipe.h"

#include <algorithm>

#include "platform/wide_text.h"
#include "windows/security/os_failure.h"
#include "windows/security/secure_random.h"

namespace quarvel {
namespace {

constexpr std::size_t kPipeNameRandomBytes = 24;
constexpr DWORD kPipeBufferBytes = 65'536;
constexpr DWORD kPipeDefaultTimeoutMs = 30'000;
constexpr DWORD kPollPeriodMs = 10;
constexpr DWORD kBusyWaitMs = 10'000;
constexpr int kOpenAttempts = 3;

// The SIDs are spliced into the descriptor text, so anything but the plain standard form
// ("S-1-" and decimal numbers) could add entries of its own, e.g. ")(A;;GA;;;WD".
bool is_plain_sid_text(std::string_view text) {
    if (text.size() < 5 || (text[0] != 'S' && text[0] != 's') || text[1] != '-')
        return false;
    const std::string_view rest = text.substr(2);
    bool after_dash = true;
    for (const char c : rest) {
        if (c == '-') {
            if (after_dash)
                return false;
            after_dash = true;
        } else if (c >= '0' && c <= '9') {
            after_dash = false;
        } else {
            return false;
        }
    }
    return !after_dash;
}

Failure acl_failure() {
    return os_failure("ipc_acl_failed", "Could not create protected communication access rules.");
}

Result<LocalPtr<void>> pipe_descriptor(std::string_view owner_sid, std::string_view account_sid) {
    if (!is_plain_sid_text(owner_sid) || !is_plain_sid_text(account_sid)) {
        SetLastError(ERROR_INVALID_SID);
        return std::unexpected(acl_failure());
    }
    const std::string text = "D:P(A;;GA;;;" + std::string(owner_sid) + ")(A;;GA;;;" +
                             std::string(account_sid) + ")(A;;GA;;;SY)";
    const WideString wide = to_wide(text);
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (!ConvertStringSecurityDescriptorToSecurityDescriptorW(wide.c_str(), SDDL_REVISION_1,
                                                              &descriptor, nullptr))
        return std::unexpected(acl_failure());
    return LocalPtr<void>(descriptor);
}

Failure connect_failure_number(DWORD error) {
    return formatted_failure("ipc_connect_failed", exit_code::internal,
                             "Could not connect protected command worker: ", error, ".");
}

bool worker_has_ended(HANDLE worker) {
    return WaitForSingleObject(worker, 0) == WAIT_OBJECT_0;
}

}  // namespace

Result<ProtectedPipe> create_protected_pipe(std::string_view owner_sid,
                                            std::string_view account_sid) {
    auto suffix = secure_random_hex(kPipeNameRandomBytes);
    if (!suffix)
        return std::unexpected(std::move(suffix.error()));
    std::string name = std::string(kProtectedPipePrefix) + *suffix;
    auto handle = create_protected_pipe_named(name, owner_sid, account_sid);
    if (!handle)
        return std::unexpected(std::move(handle.error()));
    return ProtectedPipe{std::move(name), std::move(*handle)};
}

Result<UniqueHandle> create_protected_pipe_named(std::string_view name, std::string_view owner_sid,
                                                 std::string_view account_sid) {
    auto descriptor = pipe_descriptor(owner_sid, account_sid);
    if (!descriptor)
        return std::unexpected(std::move(descriptor.error()));
    SECURITY_ATTRIBUTES attributes{};
    attributes.nLength = sizeof(attributes);
    attributes.lpSecurityDescriptor = descriptor->get();
    attributes.bInheritHandle = FALSE;

    const WideString wide_name = to_wide(name);
    HANDLE pipe = CreateNamedPipeW(
        wide_name.c_str(), PIPE_ACCESS_DUPLEX | FILE_FLAG_FIRST_PIPE_INSTANCE,
        PIPE_TYPE_BYTE | PIPE_READMODE_BYTE | PIPE_NOWAIT | PIPE_REJECT_REMOTE_CLIENTS, 1,
        kPipeBufferBytes, kPipeBufferBytes, kPipeDefaultTimeoutMs, &attributes);
    // The descriptor was only needed by the call; the owner keeps the last error intact.
    descriptor->reset();
    return checked_handle(pipe, "ipc_create_failed",
                          "Could not create protected communication channel.");
}

Result<void> accept_worker(HANDLE pipe, HANDLE worker, std::chrono::milliseconds limit) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    for (;;) {
        if (ConnectNamedPipe(pipe, nullptr))
            break;
        const DWORD error = GetLastError();
        if (error == ERROR_PIPE_CONNECTED)
            break;
        if (error != ERROR_PIPE_LISTENING && error != ERROR_NO_DATA)
            return std::unexpected(connect_failure_number(error));
        if (worker_has_ended(worker))
            return std::unexpected(fixed_failure(
                "worker_start_failed", "Protected command worker exited before connecting.",
                exit_code::internal));
        if (std::chrono::steady_clock::now() >= deadline)
            return std::unexpected(fixed_failure("ipc_connect_failed",
                                                 "Timed out waiting for protected command worker.",
                                                 exit_code::internal));
        Sleep(kPollPeriodMs);
    }
    DWORD mode = PIPE_READMODE_BYTE | PIPE_WAIT;
    if (!SetNamedPipeHandleState(pipe, &mode, nullptr, nullptr))
        return std::unexpected(
            os_failure("ipc_connect_failed",
                       "Could not switch protected communication channel to blocking mode."));
    return {};
}

Result<UniqueHandle> open_protected_pipe(std::string_view name) {
    const WideString wide_name = to_wide(name);
    for (int attempt = 1; attempt <= kOpenAttempts; ++attempt) {
        HANDLE pipe = CreateFileW(wide_name.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                  OPEN_EXISTING, 0, nullptr);
        if (is_valid_handle(pipe))
            return UniqueHandle(pipe);
        const DWORD error = GetLastError();
        if (error != ERROR_PIPE_BUSY)
            return std::unexpected(
                formatted_failure("ipc_connect_failed", exit_code::internal,
                                  "Could not open protected communication channel: ", error, "."));
        if (!WaitNamedPipeW(wide_name.c_str(), kBusyWaitMs))
            return std::unexpected(os_failure(
                "ipc_connect_failed", "Timed out waiting for protected communication channel."));
    }
    return std::unexpected(fixed_failure("ipc_connect_failed",
                                         "Could not connect protected communication channel.",
                                         exit_code::internal));
}

}  // namespace quarvel
