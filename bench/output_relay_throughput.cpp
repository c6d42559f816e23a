// Throughput of a command's output on its way to the host, figures side by side (MB/s):
//   raw         the protected pipe carrying the output in 8 KiB writes, each flushed: what the
//               relay could reach if framing, decoding and relaying cost nothing
//   frames      the same pieces as the worker sends them (decoded into one Stdout frame each,
//               written and flushed) and as the runner reads them (read_message)
//   run         (host lane) `run` end to end on a throwaway simulated machine prepared with
//               `setup`: a command writes the output in 8 KiB writes and the runner's standard
//               output is read to the end; the time counts the whole run, start-up included
//   relay       the same run from its first byte of output on: without sign-in, grants and the
//               worker's start
// Usage: output_relay_throughput [megabytes [rounds [figure]]]   (default 200 MB, 3 rounds, all
// figures; naming one figure, raw, frames or run, measures only that one, for a profiler)
// Built with the program, run by hand: measure with an optimised build (Release or
// RelWithDebInfo); a debug build measures the debug checks.

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#ifndef _WIN32
#include <stdlib.h>
#include <filesystem>
#endif

#include "platform/unique_resource.h"
#include "platform/wide_text.h"
#include "platform/win32.h"
#include "windows/channel/message_framing.h"
#include "windows/channel/protected_pipe.h"
#include "windows/process/output_forwarding.h"
#include "windows/process/utf8_stream.h"

namespace {

using namespace quarvel;
using Clock = std::chrono::steady_clock;

constexpr std::size_t kPieceBytes = 8192;
// Any SID text will do for the account entry; the benchmark opens the pipe as its owner.
constexpr std::string_view kAccount = "S-1-5-21-1004336348-1177238915-682003330-1999";

[[noreturn]] void give_up(const std::string& what) {
    std::fprintf(stderr, "output_relay_throughput: %s\n", what.c_str());
    std::exit(1);
}

double seconds_since(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

// The bytes of one 8 KiB write, the same text lines that process_probe's "stream" writes.
std::string output_piece() {
    std::string piece;
    for (unsigned line = 0; piece.size() < kPieceBytes; ++line)
        piece.append("line ")
            .append(std::to_string(line))
            .append(":\tthe quick brown fox jumps over the lazy dog\n");
    piece.resize(kPieceBytes);
    return piece;
}

std::string own_sid() {
    HANDLE token = nullptr;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token))
        give_up("OpenProcessToken failed");
    UniqueHandle owned(token);
    DWORD size = 0;
    GetTokenInformation(token, TokenUser, nullptr, 0, &size);
    std::string buffer(size, '\0');
    if (!GetTokenInformation(token, TokenUser, buffer.data(), size, &size))
        give_up("GetTokenInformation failed");
    LPWSTR text = nullptr;
    if (!ConvertSidToStringSidW(reinterpret_cast<TOKEN_USER*>(buffer.data())->User.Sid, &text))
        give_up("ConvertSidToStringSidW failed");
    LocalPtr<WCHAR> owned_text(text);
    return narrow_lossy(WideView(text));
}

struct Pair {
    ProtectedPipe server;
    UniqueHandle client;
};

Pair connect_pair(const std::string& owner) {
    auto server = create_protected_pipe(owner, kAccount);
    if (!server)
        give_up(std::string("create: ") + server.error().message);
    auto client = open_protected_pipe(server->name);
    if (!client || !accept_worker(server->handle.get(), GetCurrentProcess()))
        give_up("could not connect the pipe");
    return {std::move(*server), std::move(*client)};
}

void write_all(HANDLE handle, std::string_view bytes) {
    DWORD written = 0;
    for (std::size_t done = 0; done < bytes.size(); done += written) {
        if (!WriteFile(handle, bytes.data() + done, static_cast<DWORD>(bytes.size() - done),
                       &written, nullptr) ||
            written == 0)
            give_up("WriteFile failed");
    }
}

double raw_seconds(const std::string& owner, const std::string& piece, std::size_t pieces) {
    Pair pair = connect_pair(owner);
    const auto start = Clock::now();
    std::thread writer([&] {
        for (std::size_t k = 0; k < pieces; ++k) {
            write_all(pair.client.get(), piece);
            if (!FlushFileBuffers(pair.client.get()))
                give_up("FlushFileBuffers failed");
        }
    });
    std::vector<char> buffer(65536);
    for (std::size_t received = 0; received < pieces * piece.size();) {
        DWORD got = 0;
        if (!ReadFile(pair.server.handle.get(), buffer.data(), static_cast<DWORD>(buffer.size()),
                      &got, nullptr) ||
            got == 0)
            give_up("ReadFile failed");
        received += got;
    }
    writer.join();
    return seconds_since(start);
}

double frame_seconds(const std::string& owner, const std::string& piece, std::size_t pieces) {
    Pair pair = connect_pair(owner);
    const auto start = Clock::now();
    std::thread writer([&] {
        Utf8Stream decoder;
        for (std::size_t k = 0; k < pieces; ++k) {
            const std::string body =
                output_frame_body(OutputStream::standard_output, decoder, piece);
            if (!write_message_body(pair.client.get(), body))
                give_up("write_message_body failed");
        }
    });
    for (std::size_t k = 0; k < pieces; ++k) {
        auto read = read_message<WorkerFrame>(pair.server.handle.get());
        if (!read || std::get<frame::Stdout>(*read).data.size() != piece.size())
            give_up("read_message failed");
    }
    writer.join();
    return seconds_since(start);
}

#ifndef _WIN32

// The host lane's simulated machine, a fresh directory made current before the first simulated
// call and removed at the end.
class ThrowawayMachine {
  public:
    ThrowawayMachine() {
        char pattern[] = "/tmp/quarvel-bench-machine-XXXXXX";
        if (::mkdtemp(pattern) == nullptr)
            give_up("mkdtemp failed");
        path_ = pattern;
        ::setenv("WINSIM_MACHINE", pattern, 1);
    }
    ~ThrowawayMachine() {
        std::error_code ignored;
        std::filesystem::remove_all(path_, ignored);
    }
    ThrowawayMachine(const ThrowawayMachine&) = delete;
    ThrowawayMachine& operator=(const ThrowawayMachine&) = delete;

  private:
    std::string path_;
};

std::string quoted(const std::string& text) {
    return std::string("\"").append(text).append("\"");
}

// The programs beside this benchmark in the build directory, as the simulated host names them.
std::string program_beside_me(const std::string& name) {
    std::string path = std::string("Z:").append(
        (std::filesystem::read_symlink("/proc/self/exe").parent_path() / name).string());
    std::ranges::replace(path, '/', '\\');
    return path;
}

struct Started {
    UniqueHandle process;
    UniqueHandle output;  // read end of the child's standard output; null when not redirected
};

// Starts a child, with its standard output into a new pipe when `capture_output`.
Started start(const std::string& command_line, bool capture_output) {
    SECURITY_ATTRIBUTES inheritable{};
    inheritable.nLength = sizeof inheritable;
    inheritable.bInheritHandle = TRUE;
    HANDLE read = nullptr;
    HANDLE write = nullptr;
    if (capture_output && !CreatePipe(&read, &write, &inheritable, 0))
        give_up("CreatePipe failed");
    UniqueHandle read_end(read);
    UniqueHandle write_end(write);
    if (read_end && !SetHandleInformation(read, HANDLE_FLAG_INHERIT, 0))
        give_up("SetHandleInformation failed");
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    if (capture_output) {
        startup.dwFlags = STARTF_USESTDHANDLES;
        startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
        startup.hStdOutput = write;
        startup.hStdError = GetStdHandle(STD_ERROR_HANDLE);
    }
    WideString line = to_wide(command_line);
    PROCESS_INFORMATION created{};
    if (!CreateProcessW(nullptr, line.data(), nullptr, nullptr, capture_output, 0, nullptr, nullptr,
                        &startup, &created))
        give_up(std::string("could not start ") + command_line);
    CloseHandle(created.hThread);
    return {UniqueHandle(created.hProcess), std::move(read_end)};
}

DWORD exit_code_of(HANDLE process) {
    DWORD code = 1;
    if (WaitForSingleObject(process, INFINITE) != WAIT_OBJECT_0 ||
        !GetExitCodeProcess(process, &code))
        give_up("could not wait for a child");
    return code;
}

// Reads until the writers are gone; `on_read` sees the count before each read's bytes.
template <class OnRead>
std::size_t read_to_end(HANDLE pipe, OnRead on_read) {
    std::vector<char> buffer(65536);
    std::size_t received = 0;
    DWORD got = 0;
    while (ReadFile(pipe, buffer.data(), static_cast<DWORD>(buffer.size()), &got, nullptr) &&
           got != 0) {
        on_read(received);
        received += got;
    }
    return received;
}

void create_file(const std::string& path, std::string_view contents) {
    UniqueHandle file(CreateFileW(to_wide(path).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                  FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file)
        give_up(std::string("could not create ") + path);
    write_all(file.get(), contents);
}

const std::string kStateDir = "C:\\ProgramData\\Quarvel";

// `setup` once, then the directories and the policy that every run uses.
void prepare_machine() {
    const std::string exe = quoted(program_beside_me("quarvel-sandbox-windows"));
    auto setup = start(
        exe + " setup --state-dir " + kStateDir + " --status-file " + kStateDir + "\\status.json",
        true);
    read_to_end(setup.output.get(), [](std::size_t) {});  // the status document
    if (exit_code_of(setup.process.get()) != 0)
        give_up("setup failed");
    for (const char* directory : {"C:\\work", "C:\\work\\project", "C:\\work\\runtime"})
        CreateDirectoryW(to_wide(directory).c_str(), nullptr);
    create_file("C:\\work\\policy.json",
                R"({"version":1,"cwd":"C:\\work\\project","runtime_dir":"C:\\work\\runtime",)"
                R"("network":"disabled","status_file":"C:\\work\\status.json"})");
}

struct RunTimes {
    double first_byte = 0;
    double whole = 0;
};

RunTimes run_seconds(std::size_t bytes) {
    const std::string line =
        quoted(program_beside_me("quarvel-sandbox-windows")) + " run --state-dir " + kStateDir +
        " --policy C:\\work\\policy.json -- " + quoted(program_beside_me("process_probe")) +
        " stream " + std::to_string(bytes);
    RunTimes times;
    const auto begin = Clock::now();
    auto run = start(line, true);
    const std::size_t received = read_to_end(run.output.get(), [&](std::size_t so_far) {
        if (so_far == 0)
            times.first_byte = seconds_since(begin);
    });
    const DWORD code = exit_code_of(run.process.get());
    times.whole = seconds_since(begin);
    if (code != 0 || received != bytes)
        give_up(std::string("run ended with ") + std::to_string(code) + " after " +
                std::to_string(received) + " of " + std::to_string(bytes) + " bytes");
    return times;
}

#endif

double median(std::vector<double> values) {
    std::ranges::sort(values);
    return values[values.size() / 2];
}

// One figure's rates over the rounds, in MB/s; empty when it is not measured.
struct Figure {
    const char* name;
    std::vector<double> rates;
};

std::string number(double value, const char* format) {
    char text[32];
    std::snprintf(text, sizeof text, format, value);
    return text;
}

std::string rate_cell(const Figure& figure, std::size_t round) {
    return figure.rates.empty() ? "-" : number(figure.rates[round], "%.1f");
}

std::string ratio_cell(const Figure& part, const Figure& whole, std::size_t round) {
    if (part.rates.empty() || whole.rates.empty())
        return "-";
    return number(part.rates[round] / whole.rates[round], "%.2f");
}

void print_summary(const Figure& figure, const Figure& raw) {
    if (figure.rates.empty()) {
        std::printf("%-7s not measured\n", figure.name);
        return;
    }
    std::printf("%-7s median %7.1f MB/s  (min %7.1f, max %7.1f)", figure.name, median(figure.rates),
                *std::ranges::min_element(figure.rates), *std::ranges::max_element(figure.rates));
    if (&figure != &raw && !raw.rates.empty()) {
        std::vector<double> ratios;
        for (std::size_t round = 0; round < figure.rates.size(); ++round)
            ratios.push_back(figure.rates[round] / raw.rates[round]);
        std::printf("  %s/raw: %.2f of the medians, %.2f the median of the rounds", figure.name,
                    median(figure.rates) / median(raw.rates), median(ratios));
    }
    std::printf("\n");
}

}  // namespace

int main(int argc, char** argv) {
    const std::size_t megabytes = argc > 1 ? std::strtoull(argv[1], nullptr, 10) : 200;
    const std::size_t rounds =
        std::max<std::size_t>(argc > 2 ? std::strtoull(argv[2], nullptr, 10) : 3, 1);
    const std::string only = argc > 3 ? argv[3] : "";
    const auto wanted = [&](std::string_view figure) { return only.empty() || only == figure; };
    const std::size_t pieces = std::max<std::size_t>(megabytes * 1000000 / kPieceBytes, 1);
    const std::size_t bytes = pieces * kPieceBytes;
    const double mb = static_cast<double>(bytes) / 1e6;
#ifndef _WIN32
    ThrowawayMachine machine;
    if (wanted("run"))
        prepare_machine();
#endif
    const std::string owner = own_sid();
    const std::string piece = output_piece();
    Figure raw{"raw", {}}, frames{"frames", {}}, run{"run", {}}, relay{"relay", {}};

    std::printf("payload: %zu writes of %zu bytes (%.1f MB) per figure, %zu rounds\n", pieces,
                kPieceBytes, mb, rounds);
    std::printf("%-5s %9s %9s %9s %9s %8s %10s %11s %12s\n", "round", "raw", "frames", "run",
                "relay", "run/raw", "relay/raw", "frames/raw", "run start s");
    for (std::size_t round = 0; round < rounds; ++round) {
        if (wanted("raw"))
            raw.rates.push_back(mb / raw_seconds(owner, piece, pieces));
        if (wanted("frames"))
            frames.rates.push_back(mb / frame_seconds(owner, piece, pieces));
        std::string start_up = "-";
#ifndef _WIN32
        if (wanted("run")) {
            const RunTimes times = run_seconds(bytes);
            run.rates.push_back(mb / times.whole);
            relay.rates.push_back(mb / (times.whole - times.first_byte));
            start_up = number(times.first_byte, "%.3f");
        }
#endif
        std::printf("%-5zu %9s %9s %9s %9s %8s %10s %11s %12s\n", round + 1,
                    rate_cell(raw, round).c_str(), rate_cell(frames, round).c_str(),
                    rate_cell(run, round).c_str(), rate_cell(relay, round).c_str(),
                    ratio_cell(run, raw, round).c_str(), ratio_cell(relay, raw, round).c_str(),
                    ratio_cell(frames, raw, round).c_str(), start_up.c_str());
    }
    std::printf("(MB/s; relay is run from its first byte of output on)\n");
    for (const Figure* figure : {&raw, &frames, &run, &relay})
        print_summary(*figure, raw);
#ifdef _WIN32
    std::printf("run is measured on the host lane only: it needs a machine prepared by setup\n");
#endif
    return 0;
}
