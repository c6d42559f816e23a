#include "platform/whole_file.h"

#include <algorithm>

#include "platform/unique_resource.h"
#include "platform/win32.h"

namespace quarvel {
namespace {

std::uint32_t last_error() {
    return static_cast<std::uint32_t>(GetLastError());
}

// A file write that reports success without taking a byte would otherwise loop forever.
constexpr std::uint32_t kNothingWritten = ERROR_WRITE_FAULT;

}  // namespace

std::expected<std::string, std::uint32_t> read_whole_file(WideView path) {
    const WideString name(path);
    UniqueHandle file(CreateFileW(name.c_str(), GENERIC_READ,
                                  FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                  OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file)
        return std::unexpected(last_error());
    return read_from_file(file.get());
}

std::expected<std::string, std::uint32_t> read_from_file(HANDLE file) {
    std::string contents;
    char chunk[64 * 1024];
    for (;;) {
        DWORD got = 0;
        if (!ReadFile(file, chunk, static_cast<DWORD>(sizeof chunk), &got, nullptr))
            return std::unexpected(last_error());
        if (got == 0)
            return contents;  // end of file
        contents.append(chunk, got);
    }
}

std::expected<void, std::uint32_t> write_whole_file(WideView path, std::string_view bytes) {
    const WideString name(path);
    UniqueHandle file(CreateFileW(name.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                  FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file)
        return std::unexpected(last_error());
    return write_to_file(file.get(), bytes);
}

std::expected<void, std::uint32_t> write_to_file(HANDLE file, std::string_view bytes) {
    while (!bytes.empty()) {
        const auto chunk = static_cast<DWORD>(std::min<std::size_t>(bytes.size(), 1u << 30));
        DWORD written = 0;
        if (!WriteFile(file, bytes.data(), chunk, &written, nullptr))
            return std::unexpected(last_error());
        if (written == 0)
            return std::unexpected(kNothingWritten);
        bytes.remove_prefix(written);
    }
    return {};
}

}  // namespace quarvel
