// Throughput of the protected channel: 8 KiB Stdout frames through the pipe (framed, flushed,
// parsed), beside the same pipe carrying the same bytes in 8 KiB writes without framing.
// Usage: channel_throughput [frames]   (default 20000; the raw run moves the same payload)

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>

#include "platform/unique_resource.h"
#include "platform/win32.h"
#include "windows/channel/message_framing.h"
#include "windows/channel/protected_pipe.h"

namespace {

using namespace quarvel;
using Clock = std::chrono::steady_clock;

constexpr std::size_t kPieceBytes = 8192;
// Any SID text will do for the account entry; the benchmark opens the pipe as its owner.
constexpr std::string_view kAccount = "S-1-5-21-1004336348-1177238915-682003330-1999";

std::string own_sid() {
    HANDLE token = nullptr;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token))
        return "";
    UniqueHandle owned(token);
    DWORD size = 0;
    GetTokenInformation(token, TokenUser, nullptr, 0, &size);
    std::string buffer(size, '\0');
    if (!GetTokenInformation(token, TokenUser, buffer.data(), size, &size))
        return "";
    LPWSTR text = nullptr;
    if (!ConvertSidToStringSidW(reinterpret_cast<TOKEN_USER*>(buffer.data())->User.Sid, &text))
        return "";
    LocalPtr<WCHAR> owned_text(text);
    std::string sid;
    for (const WCHAR* c = text; *c != 0; ++c)
        sid += static_cast<char>(*c);
    return sid;
}

struct Pair {
    ProtectedPipe server;
    UniqueHandle client;
};

Pair connect_pair(const std::string& owner) {
    auto server = create_protected_pipe(owner, kAccount);
    if (!server) {
        std::fprintf(stderr, "create: %s\n", server.error().message.c_str());
        std::exit(1);
    }
    auto client = open_protected_pipe(server->name);
    if (!client || !accept_worker(server->handle.get(), GetCurrentProcess())) {
        std::fprintf(stderr, "could not connect the pipe\n");
        std::exit(1);
    }
    return {std::move(*server), std::move(*client)};
}

double seconds_since(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

double raw_seconds(const std::string& owner, std::size_t pieces) {
    Pair pair = connect_pair(owner);
    const std::string piece(kPieceBytes, 'q');
    const auto start = Clock::now();
    std::thread writer([&] {
        for (std::size_t k = 0; k < pieces; ++k) {
            DWORD written = 0;
            for (std::size_t done = 0; done < piece.size(); done += written) {
                if (!WriteFile(pair.client.get(), piece.data() + done,
                               static_cast<DWORD>(piece.size() - done), &written, nullptr))
                    std::exit(2);
            }
        }
    });
    std::string buffer(65536, '\0');
    std::size_t received = 0;
    while (received < pieces * kPieceBytes) {
        DWORD got = 0;
        if (!ReadFile(pair.server.handle.get(), buffer.data(), static_cast<DWORD>(buffer.size()),
                      &got, nullptr) ||
            got == 0)
            std::exit(3);
        received += got;
    }
    writer.join();
    return seconds_since(start);
}

double framed_seconds(const std::string& owner, std::size_t frames) {
    Pair pair = connect_pair(owner);
    std::string data(kPieceBytes, 'a');
    for (std::size_t k = 0; k < data.size(); ++k)
        data[k] = static_cast<char>('a' + k % 26);
    const WorkerFrame frame = frame::Stdout{data};
    const auto start = Clock::now();
    std::thread writer([&] {
        for (std::size_t k = 0; k < frames; ++k) {
            if (!write_message(pair.client.get(), frame))
                std::exit(4);
        }
    });
    for (std::size_t k = 0; k < frames; ++k) {
        auto read = read_message<WorkerFrame>(pair.server.handle.get());
        if (!read || std::get<frame::Stdout>(*read).data.size() != kPieceBytes)
            std::exit(5);
    }
    writer.join();
    return seconds_since(start);
}

}  // namespace

int main(int argc, char** argv) {
    const std::size_t frames = argc > 1 ? std::strtoull(argv[1], nullptr, 10) : 20000;
    const std::string owner = own_sid();
    const double megabytes = static_cast<double>(frames * kPieceBytes) / 1e6;

    const double raw = raw_seconds(owner, frames);
    const double framed = framed_seconds(owner, frames);
    std::printf("payload: %zu pieces of %zu bytes (%.1f MB)\n", frames, kPieceBytes, megabytes);
    std::printf("raw pipe, 8 KiB writes:   %8.3f s  %10.1f MB/s  %10.0f writes/s\n", raw,
                megabytes / raw, static_cast<double>(frames) / raw);
    std::printf("8 KiB Stdout frames:      %8.3f s  %10.1f MB/s  %10.0f frames/s\n", framed,
                megabytes / framed, static_cast<double>(frames) / framed);
    return 0;
}
