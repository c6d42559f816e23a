#include "pipes/named_pipe_registry.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "machine/machine.h"
#include "machine/wtf8.h"

namespace winsim {
namespace {

constexpr std::u16string_view kPipePrefix = u"\\\\.\\pipe\\";

std::uint64_t fnv1a(std::string_view text) {
    std::uint64_t hash = 0xcbf29ce484222325ull;
    for (const unsigned char c : text) {
        hash ^= c;
        hash *= 0x100000001b3ull;
    }
    return hash;
}

std::string hex(std::uint64_t value) {
    char text[17];
    std::snprintf(text, sizeof(text), "%016llx", static_cast<unsigned long long>(value));
    return text;
}

// File names keep the readable characters of the key; long or unusual keys are hashed so that
// every key gives a short, safe name.
std::string file_stem(const std::string& key) {
    std::string stem;
    for (const char c : key) {
        const bool plain = (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' || c == '_';
        if (!plain || stem.size() > 120) {
            // Appended, not prefixed with operator+: GCC 12 at -O3 takes the prefixing for an
            // overlapping copy (-Wrestrict).
            std::string hashed = "h";
            hashed += hex(fnv1a(key));
            return hashed;
        }
        stem += c;
    }
    std::string named = "n";
    named += stem;
    return named;
}

// Open file description locks: they belong to one open() of the file, so two handles in the
// same process conflict like two processes do, and they vanish when the holder dies.
bool lock_whole_file(int fd) {
    struct flock lock {};
    lock.l_type = F_WRLCK;
    lock.l_whence = SEEK_SET;
    return ::fcntl(fd, F_OFD_SETLK, &lock) == 0;
}

bool same_file(int fd, const std::string& path) {
    struct stat by_fd {
    }, by_path{};
    return ::fstat(fd, &by_fd) == 0 && ::stat(path.c_str(), &by_path) == 0 &&
           by_fd.st_dev == by_path.st_dev && by_fd.st_ino == by_path.st_ino;
}

}  // namespace

std::optional<std::string> pipe_key(std::u16string_view name) {
    if (name.size() <= kPipePrefix.size())
        return std::nullopt;
    for (std::size_t k = 0; k < kPipePrefix.size(); ++k) {
        char16_t c = name[k];
        if (c >= u'A' && c <= u'Z')
            c = static_cast<char16_t>(c - u'A' + u'a');
        if (c != kPipePrefix[k])
            return std::nullopt;
    }
    std::string key = wtf8_from_utf16(name.substr(kPipePrefix.size()));
    for (char& c : key) {
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
    }
    return key;
}

std::optional<FileLock> FileLock::try_acquire(const std::string& path) {
    // A holder removes the file when it lets go; a lock won on a file that was removed in the
    // meantime is worthless, so check that the path still names the locked file.
    for (;;) {
        const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
        if (fd < 0)
            return std::nullopt;
        if (!lock_whole_file(fd)) {
            ::close(fd);
            return std::nullopt;
        }
        if (same_file(fd, path))
            return FileLock(fd, path);
        ::close(fd);
    }
}

bool FileLock::is_held(const std::string& path) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return false;
    struct flock probe {};
    probe.l_type = F_WRLCK;
    probe.l_whence = SEEK_SET;
    const bool held = ::fcntl(fd, F_OFD_GETLK, &probe) == 0 && probe.l_type != F_UNLCK;
    ::close(fd);
    return held;
}

FileLock::FileLock(FileLock&& other) noexcept
    : fd_(std::exchange(other.fd_, -1)), path_(std::move(other.path_)) {}

FileLock& FileLock::operator=(FileLock&& other) noexcept {
    if (this != &other) {
        release();
        fd_ = std::exchange(other.fd_, -1);
        path_ = std::move(other.path_);
    }
    return *this;
}

FileLock::~FileLock() {
    release();
}

void FileLock::release() {
    if (fd_ < 0)
        return;
    ::unlink(path_.c_str());
    ::close(fd_);
    fd_ = -1;
}

PipeLocation::PipeLocation(const std::string& key) {
    const std::string machine = machine_directory();
    const std::string directory = machine + "/pipes";
    std::error_code ignored;
    std::filesystem::create_directories(directory, ignored);
    const std::string stem = directory + "/" + file_stem(key);
    lock_ = stem + ".lock";
    claim_ = stem + ".claim";
    listening_ = stem + ".listening";
    record_ = stem + ".record";
    socket_ = std::string(1, '\0') + "winsim-pipe-" + hex(fnv1a(machine)) + "-" + hex(fnv1a(key));
}

bool PipeLocation::listening() const {
    return ::access(listening_.c_str(), F_OK) == 0;
}

void PipeLocation::set_listening(bool listening) const {
    if (listening) {
        std::ofstream(listening_, std::ios::trunc);
    } else {
        ::unlink(listening_.c_str());
    }
}

bool PipeLocation::write_record(const PipeRecord& record) const {
    nlohmann::json document;
    document["dacl"] = dacl_to_json(record.dacl);
    document["default_timeout"] = record.default_timeout;
    // Written beside and renamed, so that a client never reads half a record.
    return replace_file(record_, document.dump());
}

std::optional<PipeRecord> PipeLocation::read_record() const {
    std::ifstream in(record_);
    if (!in)
        return std::nullopt;
    std::stringstream text;
    text << in.rdbuf();
    const auto document = nlohmann::json::parse(text.str(), nullptr, false);
    if (document.is_discarded() || !document.is_object())
        return std::nullopt;
    PipeRecord record;
    record.default_timeout = document.value("default_timeout", 0u);
    if (document.contains("dacl") && document["dacl"].is_array()) {
        std::vector<AccessEntry> entries;
        for (const auto& item : document["dacl"]) {
            AccessEntry entry;
            entry.type = item.value("type", BYTE{0});
            entry.flags = item.value("flags", BYTE{0});
            entry.mask = item.value("mask", DWORD{0});
            entry.sid = item.value("sid", std::string());
            entries.push_back(std::move(entry));
        }
        record.dacl = std::move(entries);
    }
    return record;
}

void PipeLocation::remove_record() const {
    ::unlink(record_.c_str());
}

}  // namespace winsim
