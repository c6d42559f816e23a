#pragma once
// Processes, their primary threads, waiting, exit codes, anonymous pipes and handle
// inheritance in the simulated host.
//
// A simulated process is a POSIX process. Every child waits before it runs its program until
// its creator lets it go (at once, or at ResumeThread when created suspended), so the creator
// finishes its bookkeeping first. Handles marked inheritable reach a child created with
// bInheritHandles TRUE under the same handle values; the standard handles of STARTUPINFOW
// become the child's descriptors 0, 1 and 2.

#include <winsim/security_attributes.h>
#include <winsim/types.h>

#define CREATE_SUSPENDED 0x00000004u
#define CREATE_UNICODE_ENVIRONMENT 0x00000400u
#define CREATE_NO_WINDOW 0x08000000u
#define DETACHED_PROCESS 0x00000008u
#define CREATE_NEW_CONSOLE 0x00000010u
#define CREATE_NEW_PROCESS_GROUP 0x00000200u
#define STARTF_USESHOWWINDOW 0x00000001u
#define CREATE_BREAKAWAY_FROM_JOB 0x01000000u
#define STARTF_USESTDHANDLES 0x00000100u
#define SW_HIDE 0
#define SW_SHOWNORMAL 1
#define SW_SHOWDEFAULT 10
#define STILL_ACTIVE 259u
#define HANDLE_FLAG_INHERIT 0x00000001u
#define ERROR_BAD_EXE_FORMAT 193L

struct STARTUPINFOW {
    DWORD cb;
    LPWSTR lpReserved;
    LPWSTR lpDesktop;
    LPWSTR lpTitle;
    DWORD dwX;
    DWORD dwY;
    DWORD dwXSize;
    DWORD dwYSize;
    DWORD dwXCountChars;
    DWORD dwYCountChars;
    DWORD dwFillAttribute;
    DWORD dwFlags;
    WORD wShowWindow;
    WORD cbReserved2;
    LPBYTE lpReserved2;
    HANDLE hStdInput;
    HANDLE hStdOutput;
    HANDLE hStdError;
};
using LPSTARTUPINFOW = STARTUPINFOW*;
static_assert(sizeof(STARTUPINFOW) == 104);

struct PROCESS_INFORMATION {
    HANDLE hProcess;
    HANDLE hThread;
    DWORD dwProcessId;
    DWORD dwThreadId;
};
using LPPROCESS_INFORMATION = PROCESS_INFORMATION*;
static_assert(sizeof(PROCESS_INFORMATION) == 24);

// The program is the application name, or else the first word of the command line; either may
// be a Windows path (C:\..., Z:\..., relative) or a path of the host system, and a bare name is
// looked up in PATH. The child receives the command line exactly (GetCommandLineW) and, as its
// POSIX arguments, the command line split by the CommandLineToArgvW rule. The current directory
// is mapped the same way. Failures: ERROR_FILE_NOT_FOUND (no such program),
// ERROR_ACCESS_DENIED (a directory or not executable), ERROR_DIRECTORY (bad current directory).
BOOL CreateProcessW(LPCWSTR application_name, LPWSTR command_line,
                    LPSECURITY_ATTRIBUTES process_attributes,
                    LPSECURITY_ATTRIBUTES thread_attributes, BOOL inherit_handles,
                    DWORD creation_flags, LPVOID environment, LPCWSTR current_directory,
                    LPSTARTUPINFOW startup_info, LPPROCESS_INFORMATION process_information);

// Process handles: signalled once the process has ended. Thread handles: signalled with their
// process. Returns WAIT_OBJECT_0, WAIT_TIMEOUT or WAIT_FAILED (ERROR_INVALID_HANDLE).
DWORD WaitForSingleObject(HANDLE handle, DWORD milliseconds);

// STILL_ACTIVE while the process runs; afterwards the full 32-bit code of ExitProcess or
// TerminateProcess. Needs PROCESS_QUERY_(LIMITED_)INFORMATION, else ERROR_ACCESS_DENIED.
BOOL GetExitCodeProcess(HANDLE process, LPDWORD exit_code);

// Ends the process at once (it does not wait). Fails with ERROR_ACCESS_DENIED once the process
// has ended, as Windows does, and without PROCESS_TERMINATE.
BOOL TerminateProcess(HANDLE process, UINT exit_code);

// Records the full 32-bit code for whoever holds a handle to this process, then ends it.
[[noreturn]] void ExitProcess(UINT exit_code);

// Lets a suspended child run. Returns the previous suspend count (1, then 0), or 0xFFFFFFFF.
DWORD ResumeThread(HANDLE thread);

// Needs PROCESS_QUERY_INFORMATION or PROCESS_QUERY_LIMITED_INFORMATION.
DWORD GetProcessId(HANDLE process);

// The calling thread's id (the host's thread id).
DWORD GetCurrentThreadId();

#define PROCESS_TERMINATE 0x0001u
#define PROCESS_CREATE_THREAD 0x0002u
#define PROCESS_SET_SESSIONID 0x0004u
#define PROCESS_VM_OPERATION 0x0008u
#define PROCESS_VM_READ 0x0010u
#define PROCESS_VM_WRITE 0x0020u
#define PROCESS_DUP_HANDLE 0x0040u
#define PROCESS_CREATE_PROCESS 0x0080u
#define PROCESS_SET_QUOTA 0x0100u
#define PROCESS_SET_INFORMATION 0x0200u
#define PROCESS_QUERY_INFORMATION 0x0400u
#define PROCESS_SUSPEND_RESUME 0x0800u
#define PROCESS_QUERY_LIMITED_INFORMATION 0x1000u
#define PROCESS_ALL_ACCESS 0x001FFFFFu

// A handle to a running process of the machine, granted the rights the process object's
// security descriptor allows the caller's token (write-restricted and restricted tokens
// included; an enabled SeDebugPrivilege passes every check). The descriptor is the one the
// creating call gave (SECURITY_ATTRIBUTES), else the default DACL of the token the process was
// created with (CreateProcessW: the creator's; CreateProcessAsUserW: hToken's); a process
// started from a shell has the interactive administrator's default. Fails with
// ERROR_INVALID_PARAMETER for process id 0 or an id no process has, ERROR_ACCESS_DENIED when
// refused. The handle can wait (SYNCHRONIZE), read the exit code
// (PROCESS_QUERY_LIMITED_INFORMATION) and terminate (PROCESS_TERMINATE) as the rights allow;
// bInheritHandle is ignored (process handles never cross into a child).
HANDLE OpenProcess(DWORD desired_access, BOOL inherit_handle, DWORD process_id);

// Anonymous pipe: POSIX pipe ends, inheritable when the attributes say so.
BOOL CreatePipe(PHANDLE read_end, PHANDLE write_end, LPSECURITY_ATTRIBUTES attributes, DWORD size);

// Only HANDLE_FLAG_INHERIT is supported.
BOOL SetHandleInformation(HANDLE handle, DWORD mask, DWORD flags);
BOOL GetHandleInformation(HANDLE handle, LPDWORD flags);

// As CreateProcessW, but the child runs with a copy of the given primary token (an
// impersonation token fails with ERROR_BAD_TOKEN_TYPE) and, when lpDesktop is set, on that
// desktop (the child finds its path in WINSIM_DESKTOP). The simulated host does not ask for
// SeAssignPrimaryTokenPrivilege. Fault injection as CreateProcessW's, under this name.
BOOL CreateProcessAsUserW(HANDLE token, LPCWSTR application_name, LPWSTR command_line,
                          LPSECURITY_ATTRIBUTES process_attributes,
                          LPSECURITY_ATTRIBUTES thread_attributes, BOOL inherit_handles,
                          DWORD creation_flags, LPVOID environment, LPCWSTR current_directory,
                          LPSTARTUPINFOW startup_info, LPPROCESS_INFORMATION process_information);

#define SEM_FAILCRITICALERRORS 0x0001u
#define SEM_NOGPFAULTERRORBOX 0x0002u
#define SEM_NOALIGNMENTFAULTEXCEPT 0x0004u
#define SEM_NOOPENFILEERRORBOX 0x8000u
#define CREATE_DEFAULT_ERROR_MODE 0x04000000u

// The mode is kept and passed on to children (unless CREATE_DEFAULT_ERROR_MODE); it changes
// nothing else, as the simulated host shows no error boxes.
UINT SetErrorMode(UINT mode);
UINT GetErrorMode();

// ---------------------------------------------------------------- environment
#ifndef ERROR_ENVVAR_NOT_FOUND
#define ERROR_ENVVAR_NOT_FOUND 203L
#endif

// The variable's value, found by name without regard to ASCII letter case. When it fits with
// its terminating zero: copied, and its length without the zero returned (an empty value thus
// returns 0 and leaves the last error as it was). Otherwise, a null buffer included, the size
// it needs with the zero. An unset variable: 0 with ERROR_ENVVAR_NOT_FOUND. Values keep
// unpaired surrogates.
DWORD GetEnvironmentVariableW(LPCWSTR name, LPWSTR buffer, DWORD size);

// Sets the variable (replacing it under any letter case), or removes it for a null value (a
// variable that does not exist is removed with success). An empty name or one with '=' after
// its first character fails with ERROR_INVALID_PARAMETER. Children started without an
// environment block see the change.
BOOL SetEnvironmentVariableW(LPCWSTR name, LPCWSTR value);
