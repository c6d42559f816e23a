#pragma once
// Named pipes: a server creates an instance and waits for a client, a client opens the pipe by
// name with CreateFileW. Instances work between the processes of one simulated machine.

#include <winsim/kernel.h>
#include <winsim/security_attributes.h>
#include <winsim/types.h>

#define PIPE_ACCESS_INBOUND 0x00000001u
#define PIPE_ACCESS_OUTBOUND 0x00000002u
#define PIPE_ACCESS_DUPLEX 0x00000003u
#define FILE_FLAG_FIRST_PIPE_INSTANCE 0x00080000u

#define PIPE_TYPE_BYTE 0x00000000u
#define PIPE_TYPE_MESSAGE 0x00000004u
#define PIPE_READMODE_BYTE 0x00000000u
#define PIPE_READMODE_MESSAGE 0x00000002u
#define PIPE_WAIT 0x00000000u
#define PIPE_NOWAIT 0x00000001u
#define PIPE_ACCEPT_REMOTE_CLIENTS 0x00000000u
#define PIPE_REJECT_REMOTE_CLIENTS 0x00000008u
#define PIPE_UNLIMITED_INSTANCES 255u

#define NMPWAIT_USE_DEFAULT_WAIT 0x00000000u
#define NMPWAIT_NOWAIT 0x00000001u
#define NMPWAIT_WAIT_FOREVER 0xFFFFFFFFu

#ifndef ERROR_NOT_SUPPORTED
#define ERROR_NOT_SUPPORTED 50L
#endif
#ifndef ERROR_SEM_TIMEOUT
#define ERROR_SEM_TIMEOUT 121L
#endif
#ifndef ERROR_BAD_PIPE
#define ERROR_BAD_PIPE 230L
#endif
#ifndef ERROR_PIPE_NOT_CONNECTED
#define ERROR_PIPE_NOT_CONNECTED 233L
#endif

// Creates the one instance of a pipe named "\\.\pipe\<name>" (the name compared without regard
// to ASCII case). Supported: byte-type pipes with one instance, inbound, outbound or duplex,
// blocking or no-wait. The DACL of the security attributes decides which tokens may open the
// pipe (none given: LocalSystem, Administrators and the creator full access, Everyone and
// Anonymous read access, as Windows does); the handle is never inheritable. Errors: a name
// outside "\\.\pipe\" ERROR_INVALID_NAME; an existing pipe of that name ERROR_ACCESS_DENIED with
// FILE_FLAG_FIRST_PIPE_INSTANCE, ERROR_PIPE_BUSY without; message-type pipes, overlapped I/O
// and more than one instance ERROR_NOT_SUPPORTED; a malformed descriptor
// ERROR_INVALID_SECURITY_DESCR. Returns INVALID_HANDLE_VALUE on failure.
HANDLE CreateNamedPipeW(LPCWSTR name, DWORD open_mode, DWORD pipe_mode, DWORD max_instances,
                        DWORD out_buffer_size, DWORD in_buffer_size, DWORD default_timeout,
                        LPSECURITY_ATTRIBUTES security_attributes);

// Blocking mode: waits for a client and returns TRUE, or FALSE with ERROR_PIPE_CONNECTED when
// one is connected already. No-wait mode: always FALSE, with ERROR_PIPE_LISTENING (nobody yet),
// ERROR_PIPE_CONNECTED (a client is connected) or ERROR_NO_DATA (a client connected and closed
// its end before the server looked). Overlapped I/O is not supported.
BOOL ConnectNamedPipe(HANDLE pipe, LPOVERLAPPED overlapped);

// Sets PIPE_WAIT or PIPE_NOWAIT with PIPE_READMODE_BYTE on either end; PIPE_READMODE_MESSAGE
// fails with ERROR_INVALID_PARAMETER (byte-type pipes only). Collection settings are not
// supported: they must be null.
BOOL SetNamedPipeHandleState(HANDLE pipe, LPDWORD mode, LPDWORD max_collection_count,
                             LPDWORD collect_data_timeout);

// Waits until the pipe's instance can take a client: TRUE then, ERROR_SEM_TIMEOUT after the
// time-out (NMPWAIT_USE_DEFAULT_WAIT: the server's default time-out), ERROR_FILE_NOT_FOUND at
// once when no pipe of that name exists.
BOOL WaitNamedPipeW(LPCWSTR name, DWORD timeout);

// The process id of the pipe's client: on the server end the process that opened the pipe
// (still after it closed its end), ERROR_PIPE_LISTENING before any client did; on a client end
// the calling process. Any other handle: ERROR_NOT_SUPPORTED; no handle: ERROR_INVALID_HANDLE.
BOOL GetNamedPipeClientProcessId(HANDLE pipe, PULONG client_process_id);
