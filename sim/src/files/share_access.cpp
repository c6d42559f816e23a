#include "files/share_access.h"

#include <winsim/files.h>
#include <winsim/security.h>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>
#include <algorithm>
#include <cerrno>
#include <climits>
#include <sstream>

#include "files/file_paths.h"
#include "machine/fd_object.h"
#include "machine/machine.h"
#include "security/security_descriptor.h"

namespace winsim {
namespace {

constexpr const char* kDeletionAttribute = "user.winsim.deletion";
constexpr DWORD kNotSupported = 50;         // ERROR_NOT_SUPPORTED
constexpr DWORD kTooManyOpenFiles = 4;      // ERROR_TOO_MANY_OPEN_FILES
constexpr DWORD kNoSystemResources = 1450;  // ERROR_NO_SYSTEM_RESOURCES

// The bytes an object owns in the table, each locked shared by the handles it describes.
enum Mark : off_t {
    kOpen = 0,   // every handle
    kReads = 1,  // handles that read, write or delete ...
    kWrites = 2,
    kDeletes = 3,
    kDeniesRead = 4,  // ... and those that do not share reading, writing or deleting
    kDeniesWrite = 5,
    kDeniesDelete = 6,
    kHoldsOpen = 7,    // on a folder: something below it is open
    kDeleteSlots = 8,  // one byte for each FILE_FLAG_DELETE_ON_CLOSE handle
};
constexpr int kDeleteSlotCount = 24;
constexpr off_t kObjectBytes = 32;
constexpr off_t kFirstObject = 64;
constexpr std::uint64_t kObjectSlots = std::uint64_t{1} << 40;

std::string table_path() {
    return machine_directory() + "/sharing.locks";
}

// An object's bytes, found by a 64-bit FNV-1a hash of its device and inode: 2^40 places make a
// collision (two objects that would share each other's marks) practically impossible.
off_t place_of(const FileKey& key) {
    std::uint64_t hash = 0xcbf29ce484222325ULL;
    for (const std::uint64_t part :
         {static_cast<std::uint64_t>(key.device), static_cast<std::uint64_t>(key.inode)})
        for (int shift = 0; shift < 64; shift += 8) {
            hash ^= (part >> shift) & 0xff;
            hash *= 0x100000001b3ULL;
        }
    return kFirstObject + static_cast<off_t>(hash % kObjectSlots) * kObjectBytes;
}

bool mark(int fd, const FileKey& key, off_t byte) {
    struct flock range {};
    range.l_type = F_RDLCK;
    range.l_whence = SEEK_SET;
    range.l_start = place_of(key) + byte;
    range.l_len = 1;
    return ::fcntl(fd, F_OFD_SETLK, &range) == 0;
}

// Whether a descriptor other than `probe`'s holds the mark. A table that cannot be asked
// counts as marked: refusing is the side that hides no bug.
bool marked(int probe, const FileKey& key, off_t byte) {
    struct flock range {};
    range.l_type = F_WRLCK;
    range.l_whence = SEEK_SET;
    range.l_start = place_of(key) + byte;
    range.l_len = 1;
    if (::fcntl(probe, F_OFD_GETLK, &range) != 0)
        return true;
    return range.l_type != F_UNLCK;
}

void unmark_all(int fd) {
    struct flock everything {};
    everything.l_type = F_UNLCK;
    everything.l_whence = SEEK_SET;
    (void)::fcntl(fd, F_OFD_SETLK, &everything);
}

// The deletion attribute: "1" or "0" for a deletion asked for, then the lock slots of the
// object's FILE_FLAG_DELETE_ON_CLOSE handles.
struct Deletion {
    bool asked = false;
    std::vector<int> slots;
};

std::optional<Deletion> parse_deletion(const std::string& text) {
    if (text.empty())
        return std::nullopt;
    Deletion deletion;
    deletion.asked = text[0] == '1';
    std::istringstream rest(text.substr(1));
    for (int slot = 0; rest >> slot;)
        deletion.slots.push_back(slot);
    return deletion;
}

std::string format_deletion(const Deletion& deletion) {
    std::string text = deletion.asked ? "1" : "0";
    // Piece by piece: GCC 12 at -O3 takes " " + text for an overlapping copy.
    for (const int slot : deletion.slots) {
        text += ' ';
        text += std::to_string(slot);
    }
    return text;
}

std::optional<Deletion> read_deletion(int fd) {
    char text[256];
    const ssize_t got = ::fgetxattr(fd, kDeletionAttribute, text, sizeof text);
    if (got <= 0)
        return std::nullopt;
    return parse_deletion(std::string(text, static_cast<std::size_t>(got)));
}

std::optional<Deletion> read_deletion(const std::string& path, bool follow) {
    char text[256];
    const ssize_t got = follow ? ::getxattr(path.c_str(), kDeletionAttribute, text, sizeof text)
                               : ::lgetxattr(path.c_str(), kDeletionAttribute, text, sizeof text);
    if (got <= 0)
        return std::nullopt;
    return parse_deletion(std::string(text, static_cast<std::size_t>(got)));
}

DWORD write_deletion(int fd, const Deletion& deletion) {
    if (!deletion.asked && deletion.slots.empty()) {
        if (::fremovexattr(fd, kDeletionAttribute) == 0 || errno == ENODATA)
            return ERROR_SUCCESS;
        return windows_error_from_errno(errno);
    }
    const std::string text = format_deletion(deletion);
    if (::fsetxattr(fd, kDeletionAttribute, text.data(), text.size(), 0) == 0)
        return ERROR_SUCCESS;
    // A link itself, or a host file system without extended attributes.
    return errno == EBADF || errno == ENOTSUP ? kNotSupported : windows_error_from_errno(errno);
}

DWORD write_deletion(const std::string& path, const Deletion& deletion) {
    const std::string text = format_deletion(deletion);
    if (::lsetxattr(path.c_str(), kDeletionAttribute, text.data(), text.size(), 0) == 0)
        return ERROR_SUCCESS;
    return errno == EPERM || errno == ENOTSUP ? kNotSupported : windows_error_from_errno(errno);
}

// Asked for, or left behind by a FILE_FLAG_DELETE_ON_CLOSE handle that has gone.
bool pending(int probe, const FileKey& key, const std::optional<Deletion>& deletion) {
    if (!deletion)
        return false;
    if (deletion->asked)
        return true;
    return std::any_of(deletion->slots.begin(), deletion->slots.end(),
                       [&](int slot) { return !marked(probe, key, kDeleteSlots + slot); });
}

bool same_key(const std::optional<FileKey>& left, const FileKey& right) {
    return left && left->device == right.device && left->inode == right.inode;
}

// Removes the object now at `path` if it is still the one with `key`. A directory that is no
// longer empty stays, no longer waiting for its deletion, as Windows leaves one whose deletion
// could not be carried out.
void remove_object(const std::string& path, const FileKey& key) {
    if (!same_key(key_of_name(path), key))
        return;
    struct stat status {};
    if (::lstat(path.c_str(), &status) != 0)
        return;
    if (!S_ISDIR(status.st_mode)) {
        (void)::unlink(path.c_str());
        return;
    }
    if (::rmdir(path.c_str()) != 0)
        (void)::lremovexattr(path.c_str(), kDeletionAttribute);
}

std::optional<std::string> descriptor_path(int fd) {
    const std::string link = "/proc/self/fd/" + std::to_string(fd);
    char target[PATH_MAX];
    const ssize_t length = ::readlink(link.c_str(), target, sizeof target - 1);
    if (length <= 0)
        return std::nullopt;
    return std::string(target, static_cast<std::size_t>(length));
}

bool conflicts(int probe, const FileKey& key, const ShareRequest& request) {
    if (!request.reads && !request.writes && !request.deletes)
        return false;  // attributes only: sharing is neither checked nor recorded
    return (request.reads && marked(probe, key, kDeniesRead)) ||
           (request.writes && marked(probe, key, kDeniesWrite)) ||
           (request.deletes && marked(probe, key, kDeniesDelete)) ||
           ((request.share & FILE_SHARE_READ) == 0 && marked(probe, key, kReads)) ||
           ((request.share & FILE_SHARE_WRITE) == 0 && marked(probe, key, kWrites)) ||
           ((request.share & FILE_SHARE_DELETE) == 0 && marked(probe, key, kDeletes));
}

// The marks of a handle with `request`, placed through its own descriptor.
bool place_marks(int fd, const FileKey& key, const ShareRequest& request) {
    bool placed = mark(fd, key, kOpen);
    if (!request.reads && !request.writes && !request.deletes)
        return placed;
    const struct {
        bool wanted;
        off_t byte;
    } marks[] = {
        {request.reads, kReads},
        {request.writes, kWrites},
        {request.deletes, kDeletes},
        {(request.share & FILE_SHARE_READ) == 0, kDeniesRead},
        {(request.share & FILE_SHARE_WRITE) == 0, kDeniesWrite},
        {(request.share & FILE_SHARE_DELETE) == 0, kDeniesDelete},
    };
    for (const auto& wanted : marks)
        if (wanted.wanted)
            placed = mark(fd, key, wanted.byte) && placed;
    return placed;
}

int free_delete_slot(const Deletion& deletion) {
    for (int slot = 0; slot < kDeleteSlotCount; ++slot)
        if (std::find(deletion.slots.begin(), deletion.slots.end(), slot) == deletion.slots.end())
            return slot;
    return -1;
}

}  // namespace

std::optional<FileKey> key_of_descriptor(int fd) {
    struct stat status {};
    if (::fstat(fd, &status) != 0)
        return std::nullopt;
    return FileKey{status.st_dev, status.st_ino};
}

std::optional<FileKey> key_of_name(const std::string& host_path) {
    struct stat status {};
    if (::lstat(host_path.c_str(), &status) != 0)
        return std::nullopt;
    return FileKey{status.st_dev, status.st_ino};
}

ShareRequest share_request(DWORD desired_access, DWORD share_mode, bool delete_on_close) {
    const ACCESS_MASK rights =
        map_generic_rights(desired_access & ~MAXIMUM_ALLOWED, kFileGenericMapping);
    ShareRequest request;
    request.reads = (rights & (FILE_READ_DATA | FILE_EXECUTE)) != 0;
    request.writes = (rights & (FILE_WRITE_DATA | FILE_APPEND_DATA)) != 0;
    request.deletes = (rights & DELETE) != 0 || delete_on_close;
    request.share = share_mode & (FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE);
    request.delete_on_close = delete_on_close;
    return request;
}

SharingLock::SharingLock() {
    fd_ = ::open(table_path().c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (fd_ < 0) {
        error_ = errno == ENOENT ? static_cast<DWORD>(ERROR_PATH_NOT_FOUND)
                                 : static_cast<DWORD>(ERROR_ACCESS_DENIED);
        return;
    }
    int locked = 0;
    while ((locked = ::flock(fd_, LOCK_EX)) != 0 && errno == EINTR) {
    }
    if (locked != 0)
        error_ = kNoSystemResources;
}

SharingLock::~SharingLock() {
    if (fd_ < 0)
        return;
    // Unlocked before it closes: a child forked meanwhile holds the same description until
    // it starts its program, and must not hold the machine's lock with it.
    (void)::flock(fd_, LOCK_UN);
    ::close(fd_);
}

ShareRecord::~ShareRecord() {
    if (fd_ < 0)
        return;
    unmark_all(fd_);
    ::close(fd_);
}

void ShareRecord::close(int object_fd) {
    if (fd_ < 0)
        return;
    SharingLock lock;
    unmark_all(fd_);
    ::close(fd_);
    fd_ = -1;
    if (lock.error() != ERROR_SUCCESS)
        return;
    auto deletion = read_deletion(object_fd);
    if (deletion && delete_slot_ >= 0) {
        // Closing a FILE_FLAG_DELETE_ON_CLOSE handle asks for the deletion.
        std::erase(deletion->slots, delete_slot_);
        deletion->asked = true;
        (void)write_deletion(object_fd, *deletion);
    }
    if (!pending(lock.probe(), key_, deletion) || is_open(lock, key_))
        return;
    if (const auto where = descriptor_path(object_fd))
        remove_object(*where, key_);
}

std::expected<std::unique_ptr<ShareRecord>, DWORD> record_open(const SharingLock& lock,
                                                               int object_fd,
                                                               const std::vector<FileKey>& folders,
                                                               const ShareRequest& request) {
    if (lock.error() != ERROR_SUCCESS)
        return std::unexpected(lock.error());
    const auto key = key_of_descriptor(object_fd);
    if (!key)
        return std::unexpected(windows_error_from_errno(errno));
    auto deletion = read_deletion(object_fd);
    if (pending(lock.probe(), *key, deletion))
        return std::unexpected(static_cast<DWORD>(ERROR_ACCESS_DENIED));
    if (conflicts(lock.probe(), *key, request))
        return std::unexpected(static_cast<DWORD>(ERROR_SHARING_VIOLATION));

    const std::string table = table_path();
    const int fd = ::open(table.c_str(), O_RDWR | O_CLOEXEC);
    if (fd < 0)
        return std::unexpected(windows_error_from_errno(errno));
    Deletion with_slot = deletion.value_or(Deletion{});
    const int delete_slot = request.delete_on_close ? free_delete_slot(with_slot) : -1;
    auto record = std::make_unique<ShareRecord>(fd, *key, delete_slot, table);
    if (request.delete_on_close && delete_slot < 0)
        return std::unexpected(kTooManyOpenFiles);
    bool placed = place_marks(fd, *key, request);
    if (delete_slot >= 0)
        placed = mark(fd, *key, kDeleteSlots + delete_slot) && placed;
    for (const auto& folder : folders)
        placed = mark(fd, folder, kHoldsOpen) && placed;
    if (!placed)
        return std::unexpected(kNoSystemResources);
    // The slot is listed only once its mark is held: a listed slot nobody holds is a
    // FILE_FLAG_DELETE_ON_CLOSE handle that has gone.
    if (delete_slot >= 0) {
        with_slot.slots.push_back(delete_slot);
        if (const DWORD written = write_deletion(object_fd, with_slot); written != ERROR_SUCCESS)
            return std::unexpected(written);
    }
    return record;
}

std::vector<FileKey> folder_keys(const std::string& resolved) {
    std::vector<FileKey> keys;
    const std::string root = drive_root_of(resolved);
    std::string folder = resolved;
    while (folder != root && folder.size() > root.size()) {
        const auto slash = folder.find_last_of('/');
        folder = slash == 0 || slash == std::string::npos ? "/" : folder.substr(0, slash);
        struct stat status {};
        if (::stat(folder.c_str(), &status) == 0)
            keys.push_back({status.st_dev, status.st_ino});
    }
    return keys;
}

DWORD delete_sharing(const SharingLock& lock, const FileKey& object) {
    return marked(lock.probe(), object, kDeniesDelete) ? ERROR_SHARING_VIOLATION : ERROR_SUCCESS;
}

bool is_open(const SharingLock& lock, const FileKey& object) {
    return marked(lock.probe(), object, kOpen);
}

bool holds_open_object(const SharingLock& lock, const FileKey& directory) {
    return marked(lock.probe(), directory, kHoldsOpen);
}

bool deletion_pending(const SharingLock& lock, const std::string& resolved) {
    const auto key = key_of_name(resolved);
    return key && pending(lock.probe(), *key, read_deletion(resolved, false));
}

DWORD set_deletion(const SharingLock& lock, int object_fd, bool asked) {
    if (lock.error() != ERROR_SUCCESS)
        return lock.error();
    Deletion deletion = read_deletion(object_fd).value_or(Deletion{});
    deletion.asked = asked;
    return write_deletion(object_fd, deletion);
}

DWORD ask_deletion(const SharingLock& lock, const std::string& host_path) {
    if (lock.error() != ERROR_SUCCESS)
        return lock.error();
    Deletion deletion = read_deletion(host_path, false).value_or(Deletion{});
    deletion.asked = true;
    return write_deletion(host_path, deletion);
}

DWORD settle_pending_deletion(const std::string& host_path, bool follow) {
    // Most names carry no deletion: one look at the attribute, without the lock.
    if (!read_deletion(host_path, follow))
        return ERROR_SUCCESS;
    SharingLock lock;
    if (lock.error() != ERROR_SUCCESS)
        return lock.error();
    std::string object = host_path;
    if (follow) {
        char resolved[PATH_MAX];
        if (::realpath(host_path.c_str(), resolved) == nullptr)
            return ERROR_SUCCESS;
        object = resolved;
    }
    const auto key = key_of_name(object);
    if (!key || !pending(lock.probe(), *key, read_deletion(object, false)))
        return ERROR_SUCCESS;
    if (is_open(lock, *key))
        return ERROR_ACCESS_DENIED;
    remove_object(object, *key);
    return ERROR_SUCCESS;
}

}  // namespace winsim
