#pragma once
// Running another program the way a host does: its standard output collected whole, its
// standard error line by line with the moment each line arrived (trace lines are the stages of
// a run as they happen), and its exit code.

#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "cli/failure.h"
#include "platform/unique_resource.h"

namespace quarvel::selftest {

using Clock = std::chrono::steady_clock;

struct TimedLine {
    Clock::time_point at;
    std::string text;
};

struct ProgramOutcome {
    std::uint32_t exit_code = 0;
    std::string standard_output;
    std::vector<TimedLine> error_lines;
    Clock::time_point started;
    Clock::time_point ended;
};

class RunningProgram {
  public:
    // Starts `arguments` (the program first) with its standard input at end of file and its
    // two output streams on pipes that this object drains from two threads. When
    // `hold_until_released`, the program is created suspended and runs only once release()
    // is called, so that its process id can be handed on before it runs. Failures:
    // selftest_run_failed with the Windows error; nothing is left running.
    static Result<RunningProgram> start(const std::vector<std::string>& arguments,
                                        bool hold_until_released = false);

    RunningProgram(RunningProgram&&) noexcept;
    RunningProgram& operator=(RunningProgram&&) = delete;
    RunningProgram(const RunningProgram&) = delete;
    // A program that was never finished is ended (exit code 125) and waited for.
    ~RunningProgram();

    std::uint32_t process_id() const { return process_id_; }
    // False once the program has ended (or was finished).
    bool running() const;
    Result<void> release();
    // Waits without a time limit for the program and for the end of both streams.
    Result<ProgramOutcome> finish();

  private:
    struct Streams;
    RunningProgram(UniqueHandle process, UniqueHandle thread, std::uint32_t process_id,
                   std::unique_ptr<Streams> streams);

    UniqueHandle process_;
    UniqueHandle thread_;
    std::uint32_t process_id_ = 0;
    std::unique_ptr<Streams> streams_;
};

// Starts the program and finishes it.
Result<ProgramOutcome> run_program(const std::vector<std::string>& arguments);

}  // namespace quarvel::selftest
