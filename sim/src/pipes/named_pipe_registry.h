#pragma once
// Where a named pipe of the simulated machine lives, so that every process of the machine
// finds it: a few small files in <machine>/pipes and a socket in the abstract namespace.
//
//   <key>.lock       held (open file description lock) by the server for the pipe's lifetime:
//                    the pipe exists exactly while this lock is held
//   <key>.record     the pipe's DACL and default time-out, for clients to check themselves
//   <key>.listening  present while the instance waits for a client
//   <key>.claim      held by the one client connected or connecting, so a second gets busy
//
// Locks die with their holder, so a crashed process never leaves a pipe behind.

#include <winsim/types.h>

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "security/token.h"

namespace winsim {

// The pipe's name after "\\.\pipe\", ASCII letters in lower case (Windows compares pipe names
// without regard to case); nothing for a name outside "\\.\pipe\" or with an empty name.
std::optional<std::string> pipe_key(std::u16string_view name);

// An exclusive lock on a file, held until destroyed; the file is removed on release.
class FileLock {
  public:
    // Nothing when another open file description holds the lock.
    static std::optional<FileLock> try_acquire(const std::string& path);
    // True when someone holds the lock on `path` (nobody is asked to let go).
    static bool is_held(const std::string& path);

    FileLock(FileLock&& other) noexcept;
    FileLock& operator=(FileLock&& other) noexcept;
    FileLock(const FileLock&) = delete;
    FileLock& operator=(const FileLock&) = delete;
    ~FileLock();

  private:
    FileLock(int fd, std::string path) : fd_(fd), path_(std::move(path)) {}
    void release();

    int fd_ = -1;
    std::string path_;
};

struct PipeRecord {
    // Absent: a null DACL, everyone may open the pipe. Generic rights already mapped.
    std::optional<std::vector<AccessEntry>> dacl;
    DWORD default_timeout = 0;
};

// The files and socket of one pipe name.
class PipeLocation {
  public:
    explicit PipeLocation(const std::string& key);

    const std::string& lock_path() const { return lock_; }
    const std::string& claim_path() const { return claim_; }
    // The socket's address in the abstract namespace (leading NUL included).
    const std::string& socket_name() const { return socket_; }

    bool exists() const { return FileLock::is_held(lock_); }
    bool listening() const;
    // A client may connect now: the pipe exists, listens, and nobody has claimed it.
    bool available() const { return exists() && listening() && !FileLock::is_held(claim_); }

    void set_listening(bool listening) const;
    // False when the record could not be stored (the host refused the file).
    [[nodiscard]] bool write_record(const PipeRecord& record) const;
    std::optional<PipeRecord> read_record() const;
    void remove_record() const;

  private:
    std::string lock_;
    std::string claim_;
    std::string listening_;
    std::string record_;
    std::string socket_;
};

}  // namespace winsim
