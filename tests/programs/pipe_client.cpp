// Plays the worker's side of the protected channel for the channel's tests, as a process of its
// own. Usage: pipe_client <pipe name> <action> [arguments]
//   frames <count>      opens the pipe, reads one worker request, answers with progress (its
//                       capability SID as the stage), started, then
//                       <count> stdout and <count> stderr frames sent at the same time from two
//                       threads through one shared channel, then exited with code 3
//   echo                opens the pipe, reads one message, sends its body back as one message
//   exit <code>         never opens the pipe; ends with the code
//   connect-close <ms>  opens the pipe, closes it at once, waits <ms>, ends with 0
//   prefix-only         opens the pipe, waits for one byte from the server (it has accepted
//                       the connection then), sends a length of 100 and 10 bytes of body, ends
//   split-length        opens the pipe, sends a length of 2 in two pieces of 2 bytes with a
//                       pause between, then the 2-byte body {}, then waits for the peer to close
//   open                opens the pipe and ends with 0
//   open-read           opens the pipe for reading only (CreateFileW itself); ends with 0, or
//                       with the Windows error when the open fails
// Any failure is printed as the program's JSON error line and ends with its exit code.

#include <cstdlib>
#include <string>
#include <thread>

#include "cli/console.h"
#include "cli/process_arguments.h"
#include "platform/wide_text.h"
#include "platform/win32.h"
#include "windows/channel/message_framing.h"
#include "windows/channel/protected_pipe.h"
#include "windows/channel/shared_channel.h"

namespace {

using namespace quarvel;

[[noreturn]] void finish(UINT code) {
    ExitProcess(code);
}

[[noreturn]] void fail_with(const Failure& failure) {
    print_error_line(failure);
    finish(static_cast<UINT>(failure.exit_code));
}

template <class T>
T checked(Result<T> result) {
    if (!result)
        fail_with(result.error());
    return std::move(*result);
}

void checked(Result<void> result) {
    if (!result)
        fail_with(result.error());
}

void write_raw(HANDLE pipe, const std::string& bytes) {
    DWORD written = 0;
    if (!WriteFile(pipe, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) ||
        written != bytes.size())
        finish(3);
}

// Each stream's frames carry their stream and number, padded so that a frame spans several
// of the pipe's writes when the two threads race.
std::string piece(const char* stream, int number) {
    std::string text = std::string(stream) + "-" + std::to_string(number) + ":";
    text.resize(text.size() + 3000 + static_cast<std::size_t>(number) * 97 % 5000, 'x');
    return text;
}

void send_frames(UniqueHandle pipe, int count) {
    const WorkerRequest request = checked(read_message<WorkerRequest>(pipe.get()));
    checked(write_message(pipe.get(), frame::Progress{request.capability_sid}));
    auto channel = SharedChannel::create(std::move(pipe));
    std::thread out([channel, count] {
        for (int k = 0; k < count; ++k)
            checked(channel->send(frame::Stdout{piece("out", k)}));
    });
    std::thread err([channel, count] {
        for (int k = 0; k < count; ++k)
            checked(channel->send(frame::Stderr{piece("err", k)}));
    });
    checked(channel->send(frame::Started{GetCurrentProcessId()}));
    out.join();
    err.join();
    checked(channel->send(frame::Exited{3}));
}

}  // namespace

int main() {
    const auto arguments = cli::process_arguments();
    if (!arguments || arguments->size() < 2)
        finish(64);
    const std::string name = narrow_lossy((*arguments)[0]);
    const std::string action = narrow_lossy((*arguments)[1]);
    const std::string value = arguments->size() > 2 ? narrow_lossy((*arguments)[2]) : "";

    if (action == "exit")
        finish(static_cast<UINT>(std::strtoul(value.c_str(), nullptr, 10)));
    if (action == "open-read") {
        HANDLE reader =
            CreateFileW(to_wide(name).c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
        finish(reader == INVALID_HANDLE_VALUE ? GetLastError() : 0);
    }
    UniqueHandle pipe = checked(open_protected_pipe(name));
    if (action == "frames") {
        send_frames(std::move(pipe), std::atoi(value.c_str()));
    } else if (action == "echo") {
        const std::string body = checked(read_message_body(pipe.get()));
        checked(write_message_body(pipe.get(), body));
    } else if (action == "connect-close") {
        pipe.reset();
        Sleep(static_cast<DWORD>(std::strtoul(value.c_str(), nullptr, 10)));
    } else if (action == "prefix-only") {
        char go;
        DWORD got = 0;
        if (!ReadFile(pipe.get(), &go, 1, &got, nullptr) || got != 1)
            finish(3);
        write_raw(pipe.get(), std::string("\x64\0\0\0", 4) + "0123456789");
    } else if (action == "split-length") {
        write_raw(pipe.get(), std::string("\x02\0", 2));
        Sleep(200);
        write_raw(pipe.get(), std::string("\0\0", 2));
        write_raw(pipe.get(), "{}");
        char byte;
        DWORD got = 0;
        ReadFile(pipe.get(), &byte, 1, &got, nullptr);
    } else if (action != "open") {
        finish(64);
    }
    finish(0);
}
