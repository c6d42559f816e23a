#include "selftest/program_run.h"

#include "platform/win32.h"
#include "windows/security/command_line_quoting.h"
#include "windows/security/os_failure.h"

namespace quarvel::selftest {
namespace {

constexpr const char* kCode = "selftest_run_failed";
constexpr UINT kAbandonedExitCode = 125;

struct Pipe {
    UniqueHandle read;
    UniqueHandle write;
};

// A pipe whose `child_end` (the read end when true) is inheritable.
Result<Pipe> inheritable_pipe(bool child_reads) {
    SECURITY_ATTRIBUTES attributes{sizeof attributes, nullptr, TRUE};
    Pipe pipe;
    if (!CreatePipe(pipe.read.put(), pipe.write.put(), &attributes, 0))
        return std::unexpected(os_failure(kCode, "Could not create a pipe for a program."));
    HANDLE own_end = child_reads ? pipe.write.get() : pipe.read.get();
    if (!SetHandleInformation(own_end, HANDLE_FLAG_INHERIT, 0))
        return std::unexpected(os_failure(kCode, "Could not keep a pipe end to itself."));
    return pipe;
}

std::string read_all(HANDLE from) {
    std::string all;
    char buffer[8192];
    for (;;) {
        DWORD got = 0;
        if (!ReadFile(from, buffer, sizeof buffer, &got, nullptr) || got == 0)
            return all;
        all.append(buffer, got);
    }
}

std::vector<TimedLine> read_lines(HANDLE from) {
    std::vector<TimedLine> lines;
    std::string pending;
    char buffer[4096];
    for (;;) {
        DWORD got = 0;
        if (!ReadFile(from, buffer, sizeof buffer, &got, nullptr) || got == 0)
            break;
        const auto now = Clock::now();
        pending.append(buffer, got);
        for (auto end = pending.find('\n'); end != std::string::npos; end = pending.find('\n')) {
            std::string line = pending.substr(0, end);
            if (!line.empty() && line.back() == '\r')
                line.pop_back();
            lines.push_back({now, std::move(line)});
            pending.erase(0, end + 1);
        }
    }
    if (!pending.empty())
        lines.push_back({Clock::now(), pending});
    return lines;
}

}  // namespace

struct RunningProgram::Streams {
    UniqueHandle output;
    UniqueHandle error;
    std::string standard_output;
    std::vector<TimedLine> error_lines;
    std::thread output_reader;
    std::thread error_reader;
    Clock::time_point started;

    void start_reading() {
        output_reader = std::thread([this] { standard_output = read_all(output.get()); });
        error_reader = std::thread([this] { error_lines = read_lines(error.get()); });
    }
    void join() {
        if (output_reader.joinable())
            output_reader.join();
        if (error_reader.joinable())
            error_reader.join();
    }
};

RunningProgram::RunningProgram(UniqueHandle process, UniqueHandle thread, std::uint32_t process_id,
                               std::unique_ptr<Streams> streams)
    : process_(std::move(process)),
      thread_(std::move(thread)),
      process_id_(process_id),
      streams_(std::move(streams)) {}

RunningProgram::RunningProgram(RunningProgram&& other) noexcept = default;

RunningProgram::~RunningProgram() {
    if (process_) {
        TerminateProcess(process_.get(), kAbandonedExitCode);
        WaitForSingleObject(process_.get(), INFINITE);
    }
    thread_.reset();
    if (streams_)
        streams_->join();
}

Result<RunningProgram> RunningProgram::start(const std::vector<std::string>& arguments,
                                             bool hold_until_released) {
    auto line = build_command_line(arguments);
    if (!line)
        return std::unexpected(std::move(line.error()));
    auto input = inheritable_pipe(true);
    if (!input)
        return std::unexpected(std::move(input.error()));
    auto output = inheritable_pipe(false);
    if (!output)
        return std::unexpected(std::move(output.error()));
    auto error = inheritable_pipe(false);
    if (!error)
        return std::unexpected(std::move(error.error()));
    // Nothing is ever written: the program reads end of file at once.
    input->write.reset();

    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = input->read.get();
    startup.hStdOutput = output->write.get();
    startup.hStdError = error->write.get();
    PROCESS_INFORMATION started{};
    const DWORD flags = CREATE_UNICODE_ENVIRONMENT | (hold_until_released ? CREATE_SUSPENDED : 0);
    if (!CreateProcessW(nullptr, line->data(), nullptr, nullptr, TRUE, flags, nullptr, nullptr,
                        &startup, &started))
        return std::unexpected(os_failure(kCode, "Could not start " + arguments.front() + "."));
    auto streams = std::make_unique<Streams>();
    streams->output = std::move(output->read);
    streams->error = std::move(error->read);
    streams->started = Clock::now();
    RunningProgram program(UniqueHandle(started.hProcess), UniqueHandle(started.hThread),
                           started.dwProcessId, std::move(streams));
    // The program's ends go with this function: the streams end when the program and its
    // heirs have closed theirs.
    program.streams_->start_reading();
    if (!hold_until_released)
        program.thread_.reset();
    return program;
}

bool RunningProgram::running() const {
    return process_ && WaitForSingleObject(process_.get(), 0) == WAIT_TIMEOUT;
}

Result<void> RunningProgram::release() {
    if (!thread_)
        return {};
    if (ResumeThread(thread_.get()) == static_cast<DWORD>(-1))
        return std::unexpected(os_failure(kCode, "Could not let a program run."));
    streams_->started = Clock::now();
    thread_.reset();
    return {};
}

Result<ProgramOutcome> RunningProgram::finish() {
    if (auto released = release(); !released)
        return std::unexpected(std::move(released.error()));
    if (WaitForSingleObject(process_.get(), INFINITE) != WAIT_OBJECT_0)
        return std::unexpected(os_failure(kCode, "Could not wait for a program."));
    const auto ended = Clock::now();
    DWORD exit_code = 0;
    if (!GetExitCodeProcess(process_.get(), &exit_code))
        return std::unexpected(os_failure(kCode, "Could not read a program's exit code."));
    process_.reset();
    streams_->join();
    return ProgramOutcome{exit_code, std::move(streams_->standard_output),
                          std::move(streams_->error_lines), streams_->started, ended};
}

Result<ProgramOutcome> run_program(const std::vector<std::string>& arguments) {
    auto program = RunningProgram::start(arguments);
    if (!program)
        return std::unexpected(std::move(program.error()));
    return program->finish();
}

}  // namespace quarvel::selftest
