#pragma once
// Sharing between the open handles of every process of a machine, and the deletion that waits
// for the last of them, as Windows' object store keeps them ([MS-FSA] 2.1.5.1.2.2, "Algorithm
// to Check Sharing Access to an Existing Stream or Directory"; DeleteFile and
// FILE_FLAG_DELETE_ON_CLOSE in the CreateFileW documentation).
//
// Where it is kept: every file or directory (by device and inode) owns a few bytes of one file,
// <machine>/sharing.locks, and every open handle holds shared locks on bytes of it through a
// descriptor of its own: open file description locks (F_OFD_SETLK), which the kernel drops when
// that descriptor closes. A handle's part in the table therefore ends with its process however
// the process ends: return, ExitProcess or SIGKILL. A handle marks on its object that it is
// open, which of read, write and delete it uses and which of them it does not share, and marks
// every folder above the object that something below is open.
//
// A deletion that waits ("delete pending") is the extended attribute "user.winsim.deletion" of
// the object: whether the deletion was asked for (DeleteFileW, RemoveDirectoryW or
// FileDispositionInfo while handles were open) and which lock slots the object's
// FILE_FLAG_DELETE_ON_CLOSE handles hold. A slot whose handle has gone, closed or killed, counts
// as a deletion asked for. The object goes when its last handle closes, or, when that handle's
// process ended without closing it, at the next call that looks the object up by name.
//
// Checking and recording run under one exclusive lock of the machine (a flock of the same
// file), so that no two of them interleave.

#include <winsim/types.h>

#include <sys/types.h>

#include <expected>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace winsim {

struct FileKey {
    dev_t device = 0;
    ino_t inode = 0;
};

// The key of the object a descriptor or host path (not followed at its end) refers to.
std::optional<FileKey> key_of_descriptor(int fd);
std::optional<FileKey> key_of_name(const std::string& host_path);

// What an open asks for, in the terms that decide sharing.
struct ShareRequest {
    bool reads = false;    // FILE_READ_DATA or FILE_EXECUTE
    bool writes = false;   // FILE_WRITE_DATA or FILE_APPEND_DATA
    bool deletes = false;  // DELETE
    DWORD share = 0;       // FILE_SHARE_READ, FILE_SHARE_WRITE, FILE_SHARE_DELETE
    bool delete_on_close = false;
};

// Generic rights are mapped for files first; FILE_FLAG_DELETE_ON_CLOSE asks for DELETE.
ShareRequest share_request(DWORD desired_access, DWORD share_mode, bool delete_on_close);

// The machine's sharing lock, held while the object lives.
class SharingLock {
  public:
    SharingLock();
    ~SharingLock();
    SharingLock(const SharingLock&) = delete;
    SharingLock& operator=(const SharingLock&) = delete;

    // ERROR_SUCCESS, or the Windows error of a machine whose table cannot be used.
    DWORD error() const { return error_; }
    // A descriptor of the table that holds no lock of its own: what it finds locked, others hold.
    int probe() const { return fd_; }

  private:
    int fd_ = -1;
    DWORD error_ = ERROR_SUCCESS;
};

// One handle's entry in the table.
class ShareRecord {
  public:
    ShareRecord(int fd, FileKey key, int delete_slot, std::string table)
        : fd_(fd), key_(key), delete_slot_(delete_slot), table_(std::move(table)) {}
    ~ShareRecord();
    ShareRecord(const ShareRecord&) = delete;
    ShareRecord& operator=(const ShareRecord&) = delete;

    // Ends the entry as a handle's close does: its marks go, a FILE_FLAG_DELETE_ON_CLOSE handle
    // asks for its object's deletion, and when the deletion is pending and no other handle is
    // left, the object goes. `object_fd` is the handle's descriptor of the object, still open.
    void close(int object_fd);

    FileKey key() const { return key_; }

  private:
    int fd_;
    FileKey key_;
    int delete_slot_;  // -1 without FILE_FLAG_DELETE_ON_CLOSE
    std::string table_;
};

// Under `lock`, for an object just opened as `object_fd` (below the folders `folders`):
// ERROR_ACCESS_DENIED when its deletion is pending (STATUS_DELETE_PENDING),
// ERROR_SHARING_VIOLATION when the request and a handle already open do not share with each
// other; otherwise the new handle's entry.
std::expected<std::unique_ptr<ShareRecord>, DWORD> record_open(const SharingLock& lock,
                                                               int object_fd,
                                                               const std::vector<FileKey>& folders,
                                                               const ShareRequest& request);

// The folders above a resolved host path, up to and including its drive's root.
std::vector<FileKey> folder_keys(const std::string& resolved);

// Under `lock`: whether an open for DELETE that shares everything (what DeleteFileW,
// RemoveDirectoryW and MoveFileExW make) would be refused: ERROR_SHARING_VIOLATION, else 0.
DWORD delete_sharing(const SharingLock& lock, const FileKey& object);

// Under `lock`: whether any handle, whatever its rights, is open on the object.
bool is_open(const SharingLock& lock, const FileKey& object);

// Under `lock`: whether any handle is open on an object below the directory.
bool holds_open_object(const SharingLock& lock, const FileKey& directory);

// Under `lock`: whether the deletion of the object at the resolved host path is pending.
bool deletion_pending(const SharingLock& lock, const std::string& resolved);

// Under `lock`: asks for (or, with `pending` false, withdraws) the deletion of the object behind
// `object_fd`. ERROR_SUCCESS or the Windows error of the host's refusal.
DWORD set_deletion(const SharingLock& lock, int object_fd, bool pending);

// Under `lock`: asks for the deletion of the object at the host path (not followed at its end),
// for DeleteFileW and RemoveDirectoryW while handles are open.
DWORD ask_deletion(const SharingLock& lock, const std::string& host_path);

// For the calls that look an object up by name, before they do: an object whose deletion is
// pending goes now when no handle is left (its holders ended without closing), and refuses
// with ERROR_ACCESS_DENIED while handles are open. ERROR_SUCCESS when the name can be used
// (including when it is gone now). `follow` follows a final link.
DWORD settle_pending_deletion(const std::string& host_path, bool follow);

}  // namespace winsim
