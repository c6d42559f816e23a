#pragma once
// Job objects: a set of processes that can be ended together. Only the kill-on-close limit is
// enforced: closing the last handle of such a job ends every member and, as members' children
// join their jobs, every process the members started.

#include <winsim/security_attributes.h>
#include <winsim/types.h>

#define JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE 0x00002000u

enum JOBOBJECTINFOCLASS {
    JobObjectBasicLimitInformation = 2,
    JobObjectExtendedLimitInformation = 9,
};

struct JOBOBJECT_BASIC_LIMIT_INFORMATION {
    LONGLONG PerProcessUserTimeLimit;
    LONGLONG PerJobUserTimeLimit;
    DWORD LimitFlags;
    SIZE_T MinimumWorkingSetSize;
    SIZE_T MaximumWorkingSetSize;
    DWORD ActiveProcessLimit;
    ULONG_PTR Affinity;
    DWORD PriorityClass;
    DWORD SchedulingClass;
};

struct IO_COUNTERS {
    ULONGLONG ReadOperationCount;
    ULONGLONG WriteOperationCount;
    ULONGLONG OtherOperationCount;
    ULONGLONG ReadTransferCount;
    ULONGLONG WriteTransferCount;
    ULONGLONG OtherTransferCount;
};

struct JOBOBJECT_EXTENDED_LIMIT_INFORMATION {
    JOBOBJECT_BASIC_LIMIT_INFORMATION BasicLimitInformation;
    IO_COUNTERS IoInfo;
    SIZE_T ProcessMemoryLimit;
    SIZE_T JobMemoryLimit;
    SIZE_T PeakProcessMemoryUsed;
    SIZE_T PeakJobMemoryUsed;
};
static_assert(sizeof(JOBOBJECT_BASIC_LIMIT_INFORMATION) == 64);
static_assert(sizeof(JOBOBJECT_EXTENDED_LIMIT_INFORMATION) == 144);

// Unnamed jobs only (a name fails with ERROR_INVALID_PARAMETER). Returns null on failure;
// fault injection: the injected error, or with a quirk a null handle and no error.
HANDLE CreateJobObjectW(LPSECURITY_ATTRIBUTES attributes, LPCWSTR name);

// JobObjectBasicLimitInformation (64 bytes) and JobObjectExtendedLimitInformation (144 bytes);
// another length fails with ERROR_BAD_LENGTH, another class with ERROR_INVALID_PARAMETER.
BOOL SetInformationJobObject(HANDLE job, JOBOBJECTINFOCLASS information_class, LPVOID information,
                             DWORD length);

// The process must be one this process created. A process may be in several jobs.
BOOL AssignProcessToJobObject(HANDLE job, HANDLE process);
