// The times and size that the file queries report, as Windows counts them, from a host status.
#pragma once

#include <winsim/files.h>

#include <sys/stat.h>
#include <cstdint>

namespace winsim {

// 100-nanosecond intervals since 1601-01-01, as FILETIME counts them.
inline FILETIME file_time(const timespec& time) {
    constexpr std::uint64_t kUnixEpochInFileTime = 116444736000000000ULL;
    const std::uint64_t ticks = kUnixEpochInFileTime +
                                static_cast<std::uint64_t>(time.tv_sec) * 10000000ULL +
                                static_cast<std::uint64_t>(time.tv_nsec) / 100;
    return {static_cast<DWORD>(ticks), static_cast<DWORD>(ticks >> 32)};
}

// The members WIN32_FILE_ATTRIBUTE_DATA and WIN32_FIND_DATAW share: a directory's size is 0.
template <class FileData>
void set_times_and_size(FileData& data, const struct stat& status) {
    data.ftCreationTime = file_time(status.st_ctim);
    data.ftLastAccessTime = file_time(status.st_atim);
    data.ftLastWriteTime = file_time(status.st_mtim);
    const auto size = S_ISREG(status.st_mode) ? static_cast<std::uint64_t>(status.st_size) : 0;
    data.nFileSizeHigh = static_cast<DWORD>(size >> 32);
    data.nFileSizeLow = static_cast<DWORD>(size);
}

}  // namespace winsim
