// kernel32's named pipe calls (the client's open is CreateFileW's, in named_pipe_client.cpp).

#include <winsim/kernel.h>
#include <winsim/pipes.h>

#include <chrono>
#include <thread>

#include "machine/faults.h"
#include "pipes/named_pipe_client.h"
#include "pipes/named_pipe_server.h"
#include "security/security_descriptor.h"
#include "security/token.h"

namespace {

constexpr DWORD kFileFlagOverlapped = 0x40000000;

HANDLE failed(DWORD error) {
    SetLastError(error);
    return INVALID_HANDLE_VALUE;
}

// What Windows gives a pipe created without a descriptor: full control to LocalSystem, the
// Administrators and the creator, read access to Everyone and Anonymous.
std::vector<winsim::AccessEntry> default_pipe_dacl() {
    const auto allow = [](DWORD mask, std::string sid) {
        return winsim::AccessEntry{ACCESS_ALLOWED_ACE_TYPE, 0, mask, std::move(sid)};
    };
    return {allow(FILE_ALL_ACCESS, "S-1-5-18"), allow(FILE_ALL_ACCESS, "S-1-5-32-544"),
            allow(FILE_ALL_ACCESS, winsim::process_token_object()->snapshot().user),
            allow(FILE_GENERIC_READ, "S-1-1-0"), allow(FILE_GENERIC_READ, "S-1-5-7")};
}

}  // namespace

HANDLE CreateNamedPipeW(LPCWSTR name, DWORD open_mode, DWORD pipe_mode, DWORD max_instances, DWORD,
                        DWORD, DWORD default_timeout, LPSECURITY_ATTRIBUTES security_attributes) {
    if (auto fault = winsim::take_fault("CreateNamedPipeW"))
        return failed(fault->value);
    const auto key = name == nullptr ? std::nullopt : winsim::pipe_key(name);
    if (!key)
        return failed(ERROR_INVALID_NAME);
    const DWORD access = open_mode & PIPE_ACCESS_DUPLEX;
    if (access == 0 || max_instances == 0 || max_instances > PIPE_UNLIMITED_INSTANCES ||
        (pipe_mode & ~(PIPE_NOWAIT | PIPE_READMODE_MESSAGE | PIPE_TYPE_MESSAGE |
                       PIPE_REJECT_REMOTE_CLIENTS)) != 0)
        return failed(ERROR_INVALID_PARAMETER);
    if ((pipe_mode & (PIPE_TYPE_MESSAGE | PIPE_READMODE_MESSAGE)) != 0 ||
        (open_mode & kFileFlagOverlapped) != 0 || max_instances != 1)
        return failed(ERROR_NOT_SUPPORTED);

    winsim::PipeRecord record;
    record.default_timeout = default_timeout;
    if (security_attributes == nullptr || security_attributes->lpSecurityDescriptor == nullptr) {
        record.dacl = default_pipe_dacl();
    } else {
        const auto description =
            winsim::read_security_descriptor(security_attributes->lpSecurityDescriptor);
        if (!description)
            return failed(ERROR_INVALID_SECURITY_DESCR);
        if (description->dacl)
            record.dacl =
                winsim::map_generic_rights(*description->dacl, winsim::kFileGenericMapping);
    }
    // The server reads what the pipe carries inbound and writes what it carries outbound.
    auto created = winsim::NamedPipeServer::create(
        *key, (open_mode & FILE_FLAG_FIRST_PIPE_INSTANCE) != 0, record,
        (access & PIPE_ACCESS_INBOUND) != 0, (access & PIPE_ACCESS_OUTBOUND) != 0,
        (pipe_mode & PIPE_NOWAIT) != 0);
    if (!created.server)
        return failed(created.error);
    return winsim::insert_handle(std::move(created.server));
}

BOOL ConnectNamedPipe(HANDLE pipe, LPOVERLAPPED overlapped) {
    WINSIM_FAIL_IF_INJECTED("ConnectNamedPipe");
    if (overlapped != nullptr)
        return winsim::fail(ERROR_NOT_SUPPORTED);
    const auto server = winsim::object_as<winsim::NamedPipeServer>(pipe);
    if (!server) {
        return winsim::fail(winsim::object_from_handle(pipe) ? ERROR_INVALID_FUNCTION
                                                             : ERROR_INVALID_HANDLE);
    }
    const DWORD error = server->connect();
    return error == 0 ? TRUE : winsim::fail(error);
}

BOOL SetNamedPipeHandleState(HANDLE pipe, LPDWORD mode, LPDWORD max_collection_count,
                             LPDWORD collect_data_timeout) {
    WINSIM_FAIL_IF_INJECTED("SetNamedPipeHandleState");
    const auto end = winsim::object_as<winsim::NamedPipeEnd>(pipe);
    if (!end)
        return winsim::fail(ERROR_INVALID_HANDLE);
    if (max_collection_count != nullptr || collect_data_timeout != nullptr)
        return winsim::fail(ERROR_NOT_SUPPORTED);
    if (mode == nullptr)
        return TRUE;
    if ((*mode & ~(PIPE_NOWAIT | PIPE_READMODE_MESSAGE)) != 0 ||
        (*mode & PIPE_READMODE_MESSAGE) != 0)
        return winsim::fail(ERROR_INVALID_PARAMETER);
    end->set_nowait((*mode & PIPE_NOWAIT) != 0);
    return TRUE;
}

BOOL WaitNamedPipeW(LPCWSTR name, DWORD timeout) {
    WINSIM_FAIL_IF_INJECTED("WaitNamedPipeW");
    const auto key = name == nullptr ? std::nullopt : winsim::pipe_key(name);
    if (!key)
        return winsim::fail(ERROR_INVALID_NAME);
    const winsim::PipeLocation location(*key);
    if (!location.exists())
        return winsim::fail(ERROR_FILE_NOT_FOUND);
    if (timeout == NMPWAIT_USE_DEFAULT_WAIT) {
        const auto record = location.read_record();
        // Windows' own default when the server gave none: 50 ms.
        timeout = record && record->default_timeout != 0 ? record->default_timeout : 50;
    }
    const auto start = std::chrono::steady_clock::now();
    for (;;) {
        if (location.available())
            return TRUE;
        if (!location.exists())
            return winsim::fail(ERROR_FILE_NOT_FOUND);
        if (timeout != NMPWAIT_WAIT_FOREVER &&
            std::chrono::steady_clock::now() - start >= std::chrono::milliseconds(timeout))
            return winsim::fail(ERROR_SEM_TIMEOUT);
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
}

BOOL GetNamedPipeClientProcessId(HANDLE pipe, PULONG client_process_id) {
    const auto fault = winsim::take_fault("GetNamedPipeClientProcessId");
    if (fault && fault->kind == winsim::FaultKind::fail)
        return winsim::fail(fault->value);
    const auto end = winsim::object_as<winsim::NamedPipeEnd>(pipe);
    if (!end) {
        return winsim::fail(winsim::object_from_handle(pipe) ? ERROR_NOT_SUPPORTED
                                                             : ERROR_INVALID_HANDLE);
    }
    DWORD process_id = 0;
    if (const DWORD error = end->client_process_id(process_id); error != 0)
        return winsim::fail(error);
    // The quirk: the client is another process than the one that meant to connect, the one
    // whose id the fault gives (a process that opened the pipe first).
    if (fault)
        process_id = fault->value;
    if (client_process_id != nullptr)
        *client_process_id = process_id;
    return TRUE;
}
