#pragma once
// kernel32 files and directories. Paths are Windows paths (see sim/src/file_paths.h for where
// they live on the host); handles from CreateFileW read and write through ReadFile, WriteFile
// and FlushFileBuffers and close with CloseHandle.
//
// The read-only attribute is the owner's write permission bit of a regular file, and the
// simulated host enforces it itself (tests run as root, whom POSIX permissions do not stop):
// such a file cannot be opened for writing, truncated, replaced by MoveFileExW or deleted.
// Directories never carry it. Sharing modes are enforced between the handles of every process
// of the machine, and a deletion waits for the last handle (sim/src/files/share_access.h).
// Names resolve without regard to case and keep the case they were made with, as on NTFS. Every
// call checks the calling process's token against the descriptors involved (sim/src/file_access.h)
// and fails with ERROR_ACCESS_DENIED where Windows would; new files and directories get their
// descriptor by Windows' inheritance rules (sim/src/file_security.h).

#include <winsim/types.h>

struct SECURITY_ATTRIBUTES;
using LPSECURITY_ATTRIBUTES = SECURITY_ATTRIBUTES*;

// Access rights also declared by the security headers; the values are Windows'.
#ifndef GENERIC_READ
#define GENERIC_READ 0x80000000u
#endif
#ifndef GENERIC_WRITE
#define GENERIC_WRITE 0x40000000u
#endif
#ifndef GENERIC_ALL
#define GENERIC_ALL 0x10000000u
#endif
#ifndef FILE_READ_DATA
#define FILE_READ_DATA 0x0001u
#endif
#ifndef FILE_WRITE_DATA
#define FILE_WRITE_DATA 0x0002u
#endif
#ifndef FILE_APPEND_DATA
#define FILE_APPEND_DATA 0x0004u
#endif

#define FILE_SHARE_READ 0x00000001u
#define FILE_SHARE_WRITE 0x00000002u
#define FILE_SHARE_DELETE 0x00000004u

#define CREATE_NEW 1u
#define CREATE_ALWAYS 2u
#ifndef OPEN_EXISTING  // also declared by the pipe calls, whose clients open with CreateFileW
#define OPEN_EXISTING 3u
#endif
#define OPEN_ALWAYS 4u
#define TRUNCATE_EXISTING 5u

#define FILE_ATTRIBUTE_READONLY 0x00000001u
#define FILE_ATTRIBUTE_HIDDEN 0x00000002u
#define FILE_ATTRIBUTE_SYSTEM 0x00000004u
#define FILE_ATTRIBUTE_DIRECTORY 0x00000010u
#define FILE_ATTRIBUTE_ARCHIVE 0x00000020u
#define FILE_ATTRIBUTE_NORMAL 0x00000080u
#define FILE_ATTRIBUTE_REPARSE_POINT 0x00000400u
#define INVALID_FILE_ATTRIBUTES 0xFFFFFFFFu

#define FILE_FLAG_BACKUP_SEMANTICS 0x02000000u
#define FILE_FLAG_OPEN_REPARSE_POINT 0x00200000u
#define FILE_FLAG_DELETE_ON_CLOSE 0x04000000u

#define MOVEFILE_REPLACE_EXISTING 0x00000001u
#define MOVEFILE_COPY_ALLOWED 0x00000002u
#define MOVEFILE_WRITE_THROUGH 0x00000008u

#define ERROR_NOT_SAME_DEVICE 17L
#define ERROR_WRITE_FAULT 29L

// Names under "\\.\pipe\" open the client end of a named pipe (see winsim/pipes.h). Otherwise:
// opens or creates a file, or with FILE_FLAG_BACKUP_SEMANTICS opens a directory (for reading
// attributes and access rules; it cannot be read or written). Results as Windows gives them:
// missing file ERROR_FILE_NOT_FOUND, missing folder ERROR_PATH_NOT_FOUND, CREATE_NEW on an
// existing name ERROR_FILE_EXISTS, a directory without backup semantics or any write access to
// a read-only file ERROR_ACCESS_DENIED; success sets the last error to ERROR_ALREADY_EXISTS
// when CREATE_ALWAYS or OPEN_ALWAYS found the file, else to 0. FILE_ATTRIBUTE_READONLY makes a
// new file read-only; the new handle may still write. A security descriptor in the security
// attributes gives a new file its owner and explicit entries (a malformed one
// ERROR_INVALID_SECURITY_DESCR); the handle is never inheritable. FILE_FLAG_OPEN_REPARSE_POINT
// opens a final link itself. Sharing: an open that asks for reading, writing or deleting which a
// handle already open does not share, or which does not share what such a handle uses,
// ERROR_SHARING_VIOLATION; an object whose deletion is pending ERROR_ACCESS_DENIED.
// FILE_FLAG_DELETE_ON_CLOSE asks for DELETE too and deletes the object once its last handle has
// closed. Returns INVALID_HANDLE_VALUE on failure.
HANDLE CreateFileW(LPCWSTR file_name, DWORD desired_access, DWORD share_mode,
                   LPSECURITY_ATTRIBUTES security_attributes, DWORD creation_disposition,
                   DWORD flags_and_attributes, HANDLE template_file);

// One directory, with the security attributes' descriptor as for CreateFileW; its parent must
// exist. An existing file or directory of that name
// ERROR_ALREADY_EXISTS, a missing parent (or a file in its place) ERROR_PATH_NOT_FOUND.
BOOL CreateDirectoryW(LPCWSTR path, LPSECURITY_ATTRIBUTES security_attributes);

// An empty directory, or a junction or link to a directory itself. Not empty
// ERROR_DIR_NOT_EMPTY, a file ERROR_DIRECTORY, open by a handle that does not share deleting
// ERROR_SHARING_VIOLATION. While other handles are open the directory stays until the last
// closes, and cannot be opened meanwhile.
BOOL RemoveDirectoryW(LPCWSTR path);

// The attributes of the name itself (a symbolic link is not followed: it shows
// FILE_ATTRIBUTE_REPARSE_POINT). Files carry FILE_ATTRIBUTE_ARCHIVE. INVALID_FILE_ATTRIBUTES
// with ERROR_FILE_NOT_FOUND or ERROR_PATH_NOT_FOUND when it is not there.
DWORD GetFileAttributesW(LPCWSTR path);

// Only FILE_ATTRIBUTE_READONLY of a regular file is kept; other bits are accepted and dropped.
BOOL SetFileAttributesW(LPCWSTR path, DWORD attributes);

// A file (or a symbolic link to one itself). A read-only file, a directory or a link to one
// ERROR_ACCESS_DENIED; open by a handle that does not share deleting ERROR_SHARING_VIOLATION.
// While other handles are open the file stays until the last closes, and cannot be opened
// meanwhile (ERROR_ACCESS_DENIED).
BOOL DeleteFileW(LPCWSTR path);

// Renames a file or directory. An existing target without MOVEFILE_REPLACE_EXISTING
// ERROR_ALREADY_EXISTS; with it, a target that is read-only, a directory or open
// ERROR_ACCESS_DENIED. A source open by a handle that does not share deleting
// ERROR_SHARING_VIOLATION; a directory with anything open below it ERROR_ACCESS_DENIED. A move
// between different drives' host file systems ERROR_NOT_SAME_DEVICE.
BOOL MoveFileExW(LPCWSTR existing_name, LPCWSTR new_name, DWORD flags);

// ---------------------------------------------------------------- directory listing

#define ERROR_NO_MORE_FILES 18L

struct WIN32_FIND_DATAW {
    DWORD dwFileAttributes;
    FILETIME ftCreationTime;
    FILETIME ftLastAccessTime;
    FILETIME ftLastWriteTime;
    DWORD nFileSizeHigh;
    DWORD nFileSizeLow;
    DWORD dwReserved0;  // the reparse tag, for an entry with FILE_ATTRIBUTE_REPARSE_POINT
    DWORD dwReserved1;
    WCHAR cFileName[MAX_PATH];
    WCHAR cAlternateFileName[14];
};
using LPWIN32_FIND_DATAW = WIN32_FIND_DATAW*;
static_assert(sizeof(WIN32_FIND_DATAW) == 592);

// Lists the entries of a folder whose names match the last component of `file_name` (the
// wildcards * and ? in any position; names compared as NTFS compares them), "." and ".." first
// in any folder but a drive root, then the others in the order of their upper-cased names. A
// link is listed as itself, with FILE_ATTRIBUTE_REPARSE_POINT and its tag in dwReserved0.
// Needs FILE_LIST_DIRECTORY on the folder (else ERROR_ACCESS_DENIED). A missing folder gives
// ERROR_PATH_NOT_FOUND, no matching entry ERROR_FILE_NOT_FOUND; the handle closes with FindClose.
// The entries are those of the moment of the call.
HANDLE FindFirstFileW(LPCWSTR file_name, LPWIN32_FIND_DATAW find_data);
// The next entry, or FALSE with ERROR_NO_MORE_FILES after the last.
BOOL FindNextFileW(HANDLE find, LPWIN32_FIND_DATAW find_data);
// Closes a handle of FindFirstFileW; any other handle gives ERROR_INVALID_HANDLE.
BOOL FindClose(HANDLE find);

// ---------------------------------------------------------------- attributes, tags, final paths

enum GET_FILEEX_INFO_LEVELS {
    GetFileExInfoStandard,
    GetFileExMaxInfoLevel,
};

struct WIN32_FILE_ATTRIBUTE_DATA {
    DWORD dwFileAttributes;
    FILETIME ftCreationTime;
    FILETIME ftLastAccessTime;
    FILETIME ftLastWriteTime;
    DWORD nFileSizeHigh;
    DWORD nFileSizeLow;
};
static_assert(sizeof(WIN32_FILE_ATTRIBUTE_DATA) == 36);

enum FILE_INFO_BY_HANDLE_CLASS {
    FileBasicInfo,
    FileStandardInfo,
    FileNameInfo,
    FileRenameInfo,
    FileDispositionInfo,
    FileAllocationInfo,
    FileEndOfFileInfo,
    FileStreamInfo,
    FileCompressionInfo,
    FileAttributeTagInfo,
};

struct FILE_ATTRIBUTE_TAG_INFO {
    DWORD FileAttributes;
    DWORD ReparseTag;
};

struct FILE_DISPOSITION_INFO {
    BOOLEAN DeleteFile;
};

#define IO_REPARSE_TAG_MOUNT_POINT 0xA0000003u
#define IO_REPARSE_TAG_SYMLINK 0xA000000Cu
#define FILE_NAME_NORMALIZED 0x0u
#define FILE_NAME_OPENED 0x8u
#define VOLUME_NAME_DOS 0x0u
#define ERROR_BAD_LENGTH 24L

// GetFileAttributesW's answer with the times and size (GetFileExInfoStandard only; another
// level ERROR_INVALID_PARAMETER). A symbolic link or junction reports itself, not its target.
BOOL GetFileAttributesExW(LPCWSTR path, GET_FILEEX_INFO_LEVELS level, LPVOID information);

// FileAttributeTagInfo only (other classes ERROR_NOT_SUPPORTED): the attributes of what the
// handle refers to and, with FILE_ATTRIBUTE_REPARSE_POINT, its reparse tag. A handle opened
// with FILE_FLAG_OPEN_REPARSE_POINT refers to a final link itself. A buffer smaller than the
// structure ERROR_BAD_LENGTH; a handle that is no file or directory ERROR_INVALID_HANDLE.
BOOL GetFileInformationByHandleEx(HANDLE file, FILE_INFO_BY_HANDLE_CLASS information_class,
                                  LPVOID information, DWORD size);

// FileDispositionInfo only (other classes ERROR_NOT_SUPPORTED): DeleteFile TRUE asks for the
// object's deletion once its last handle has closed, FALSE withdraws that (not what a
// FILE_FLAG_DELETE_ON_CLOSE handle asks for). A handle without DELETE ERROR_ACCESS_DENIED, a
// read-only file ERROR_ACCESS_DENIED, a directory that is not empty ERROR_DIR_NOT_EMPTY, a
// buffer smaller than the structure ERROR_BAD_LENGTH, a handle that is no file
// ERROR_INVALID_HANDLE.
BOOL SetFileInformationByHandle(HANDLE file, FILE_INFO_BY_HANDLE_CLASS information_class,
                                LPVOID information, DWORD size);

// The path of what the handle refers to, links resolved and every name in the case it is
// stored in, as "\\?\C:\dir\name" (FILE_NAME_NORMALIZED or FILE_NAME_OPENED with
// VOLUME_NAME_DOS; other flags ERROR_INVALID_PARAMETER). Returns its length without the
// terminating zero; when `size` (in characters) is too small, the size needed including the
// terminating zero, with the buffer untouched. 0 on failure (ERROR_INVALID_HANDLE).
DWORD GetFinalPathNameByHandleW(HANDLE file, LPWSTR path, DWORD size, DWORD flags);

// Copies the bytes of an existing file to a new one, or over an existing one unless
// `fail_if_exists`, with the access checks of CreateFileW on both (reading the one, creating or
// truncating the other: ERROR_FILE_EXISTS, ERROR_ACCESS_DENIED for a read-only target, ...).
// The copy gets the source's attributes (here its permission bits, so a program stays one) and
// the descriptor that creation in its folder gives it, not the source's. Fault: FALSE with the
// injected error.
BOOL CopyFileW(LPCWSTR existing, LPCWSTR copy, BOOL fail_if_exists);

// The folder for temporary files, ending in a backslash: TMP, else TEMP, else USERPROFILE, else
// the Windows folder, taken as it is (neither checked nor completed). Returns its length without
// the terminating zero when it fits, else the size it needs with the zero. Fault: 0 with the
// injected error.
DWORD GetTempPathW(DWORD size, LPWSTR buffer);
