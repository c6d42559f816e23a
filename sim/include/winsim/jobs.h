#pragma once
// Job objects: a set of processes that can be ended together. Of the limits only kill-on-close
// and the two breakaway limits are enforced: closing the last handle of a kill-on-close job ends
// every member and, as members' children join their jobs, every process the members started; a
// child created with CREATE_BREAKAWAY_FROM_JOB leaves its creator's jobs only when every one of
// them sets JOB_OBJECT_LIMIT_BREAKAWAY_OK (else the creation fails with ERROR_ACCESS_DENIED),
// and a job with JOB_OBJECT_LIMIT_SILENT_BREAKAWAY_OK takes in no children at all.

#include <winsim/security_attributes.h>
#include <winsim/types.h>

#define JOB_OBJECT_LIMIT_BREAKAWAY_OK 0x00000800u
#define JOB_OBJECT_LIMIT_SILENT_BREAKAWAY_OK 0x00001000u
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
