// The simulated host's processes: creation, the suspended gate, exit codes wider than POSIX
// keeps, standard handles, handle inheritance, path mapping and the injected failures.

#include <gtest/gtest.h>

#include <winsim/testing.h>

#include <filesystem>
#include <string>

#include "platform/unique_resource.h"
#include "platform/wide_text.h"
#include "platform/win32.h"
#include "support/anonymous_pipe.h"
#include "support/host_process.h"
#include "support/leak_checked_test.h"
#include "support/started_program.h"

namespace quarvel {
namespace {

using testing::anonymous_pipe;
using testing::read_all;
using testing::test_program;
using testing::windows_form;

struct Started {
    UniqueHandle process;
    UniqueHandle thread;
    DWORD pid = 0;
};

std::string probe_command(const std::string& arguments) {
    // Appended, not prefixed with operator+ (a -Wrestrict false positive of GCC 12 at -O3).
    std::string line = "\"";
    line += windows_form(test_program("process_probe"));
    line += "\" ";
    line += arguments;
    return line;
}

class SimulatedProcess : public testing::LeakCheckedTest {
  protected:
    // Starts `command_line`; expects success.
    Started start(const std::string& command_line, DWORD flags = 0, STARTUPINFOW* startup = nullptr,
                  BOOL inherit = FALSE, const WCHAR* directory = nullptr) {
        STARTUPINFOW plain{};
        plain.cb = sizeof plain;
        WideString line = to_wide(command_line);
        PROCESS_INFORMATION info{};
        const BOOL created = CreateProcessW(nullptr, line.data(), nullptr, nullptr, inherit, flags,
                                            nullptr, directory, startup ? startup : &plain, &info);
        EXPECT_TRUE(created) << command_line << " error " << GetLastError();
        return {UniqueHandle(info.hProcess), UniqueHandle(info.hThread), info.dwProcessId};
    }

    DWORD failure_of(const std::string& command_line, const WCHAR* directory = nullptr) {
        STARTUPINFOW startup{};
        startup.cb = sizeof startup;
        WideString line = to_wide(command_line);
        PROCESS_INFORMATION info{};
        const BOOL created = CreateProcessW(nullptr, line.data(), nullptr, nullptr, FALSE, 0,
                                            nullptr, directory, &startup, &info);
        EXPECT_FALSE(created);
        EXPECT_EQ(info.hProcess, nullptr);
        return GetLastError();
    }

    static DWORD exit_code_after_wait(HANDLE process) {
        EXPECT_EQ(WaitForSingleObject(process, INFINITE), WAIT_OBJECT_0);
        DWORD code = 0;
        EXPECT_TRUE(GetExitCodeProcess(process, &code));
        return code;
    }
};

TEST_F(SimulatedProcess, ReportsTheFullThirtyTwoBitExitCode) {
    for (const DWORD code : {0u, 3u, 255u, 256u, 0xC0000005u, 0xFFFFFFFFu}) {
        auto child = start(probe_command("exit " + std::to_string(code)));
        EXPECT_EQ(exit_code_after_wait(child.process.get()), code);
    }
}

TEST_F(SimulatedProcess, RunningProcessIsStillActiveUntilTerminated) {
    auto child = start(probe_command("sleep 20000"));
    EXPECT_EQ(WaitForSingleObject(child.process.get(), 0), static_cast<DWORD>(WAIT_TIMEOUT));
    EXPECT_EQ(WaitForSingleObject(child.process.get(), 50), static_cast<DWORD>(WAIT_TIMEOUT));
    DWORD code = 0;
    ASSERT_TRUE(GetExitCodeProcess(child.process.get(), &code));
    EXPECT_EQ(code, STILL_ACTIVE);

    ASSERT_TRUE(TerminateProcess(child.process.get(), 125));
    EXPECT_EQ(exit_code_after_wait(child.process.get()), 125u);
    EXPECT_EQ(WaitForSingleObject(child.thread.get(), 0), WAIT_OBJECT_0);
    EXPECT_FALSE(TerminateProcess(child.process.get(), 1));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
    EXPECT_EQ(exit_code_after_wait(child.process.get()), 125u);
}

TEST_F(SimulatedProcess, SuspendedChildRunsOnlyAfterResume) {
    auto child = start(probe_command("exit 7"), CREATE_SUSPENDED);
    EXPECT_EQ(WaitForSingleObject(child.process.get(), 300), static_cast<DWORD>(WAIT_TIMEOUT));
    EXPECT_EQ(ResumeThread(child.thread.get()), 1u);
    EXPECT_EQ(exit_code_after_wait(child.process.get()), 7u);
    EXPECT_EQ(ResumeThread(child.thread.get()), 0u);
}

TEST_F(SimulatedProcess, SuspendedChildCanBeTerminatedBeforeItRuns) {
    auto child = start(probe_command("exit 7"), CREATE_SUSPENDED);
    ASSERT_TRUE(TerminateProcess(child.process.get(), 125));
    EXPECT_EQ(exit_code_after_wait(child.process.get()), 125u);
}

TEST_F(SimulatedProcess, SuspendedChildWhoseHandlesAreAllClosedDoesNotRun) {
    DWORD pid = 0;
    {
        auto child = start(probe_command("sleep 20000"), CREATE_SUSPENDED);
        pid = child.pid;
    }
    EXPECT_TRUE(testing::wait_until_ended(static_cast<pid_t>(pid), 30000));
}

TEST_F(SimulatedProcess, ChildReceivesItsCommandLineExactly) {
    auto output = anonymous_pipe(0, true);
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdOutput = output.write.get();
    const std::string line =
        probe_command("command-line  a\\\\\"b \"c d\" \xC3\xA9\xF0\x9D\x84\x9E ");
    auto child = start(line, 0, &startup, TRUE);
    output.write.reset();
    EXPECT_EQ(read_all(output.read.get()), line);
    EXPECT_EQ(exit_code_after_wait(child.process.get()), 0u);
}

TEST_F(SimulatedProcess, StandardHandlesConnectTheChildToPipes) {
    auto input = anonymous_pipe(0, true);
    auto output = anonymous_pipe(0, true);
    SetHandleInformation(input.write.get(), HANDLE_FLAG_INHERIT, 0);
    SetHandleInformation(output.read.get(), HANDLE_FLAG_INHERIT, 0);
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = input.read.get();
    startup.hStdOutput = output.write.get();
    startup.hStdError = output.write.get();
    auto child = start(probe_command("copy-input"), 0, &startup, TRUE);
    input.read.reset();
    output.write.reset();
    DWORD written = 0;
    ASSERT_TRUE(WriteFile(input.write.get(), "hello", 5, &written, nullptr));
    input.write.reset();
    // End of file arrives only if no process kept a copy of the write ends.
    EXPECT_EQ(read_all(output.read.get()), "hello");
    EXPECT_EQ(exit_code_after_wait(child.process.get()), 0u);
}

TEST_F(SimulatedProcess, StandardHandlesGivenToTheChildStayInheritableThere) {
    // Inherited handles keep their attribute; the standard handles given are inherited ones.
    auto output = anonymous_pipe(0, true);
    SetHandleInformation(output.read.get(), HANDLE_FLAG_INHERIT, 0);
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdOutput = output.write.get();
    auto child = start(probe_command("standard-flags"), 0, &startup, TRUE);
    output.write.reset();
    EXPECT_EQ(read_all(output.read.get()), "-1-");
    EXPECT_EQ(exit_code_after_wait(child.process.get()), 0u);
}

TEST_F(SimulatedProcess, StandardHandleThatIsNotInheritableDoesNotReachTheChild) {
    for (const bool inherit_handles : {false, true}) {
        auto output = anonymous_pipe(0, inherit_handles);
        STARTUPINFOW startup{};
        startup.cb = sizeof startup;
        startup.dwFlags = STARTF_USESTDHANDLES;
        startup.hStdOutput = output.write.get();
        // Either the handle is not inheritable, or inheritance is off.
        auto child = start(probe_command("command-line"), 0, &startup, !inherit_handles);
        output.write.reset();
        EXPECT_EQ(read_all(output.read.get()), "");
        EXPECT_EQ(exit_code_after_wait(child.process.get()), 4u);
    }
}

TEST_F(SimulatedProcess, InheritableHandleKeepsItsValueInTheChild) {
    struct Case {
        bool inheritable;
        bool cleared_afterwards;
        BOOL inherit_handles;
        DWORD expected_exit;
        const char* expected_text;
    } cases[] = {
        {true, false, TRUE, 0, "hi"},
        {true, false, FALSE, 3, ""},
        {false, false, TRUE, 3, ""},
        {true, true, TRUE, 3, ""},
    };
    for (const auto& c : cases) {
        auto pipe = anonymous_pipe(0, c.inheritable);
        SetHandleInformation(pipe.read.get(), HANDLE_FLAG_INHERIT, 0);
        if (c.cleared_afterwards)
            SetHandleInformation(pipe.write.get(), HANDLE_FLAG_INHERIT, 0);
        DWORD flags = 99;
        ASSERT_TRUE(GetHandleInformation(pipe.write.get(), &flags));
        EXPECT_EQ(flags, c.inheritable && !c.cleared_afterwards ? HANDLE_FLAG_INHERIT : 0u);
        char value[32];
        std::snprintf(
            value, sizeof value, "%llx",
            static_cast<unsigned long long>(reinterpret_cast<std::uintptr_t>(pipe.write.get())));
        auto child = start(probe_command(std::string("write-handle ") + value + " hi"), 0, nullptr,
                           c.inherit_handles);
        pipe.write.reset();
        EXPECT_EQ(read_all(pipe.read.get()), c.expected_text);
        EXPECT_EQ(exit_code_after_wait(child.process.get()), c.expected_exit);
    }
}

TEST_F(SimulatedProcess, ProgramAndDirectoryMayBeWindowsOrHostPaths) {
    std::filesystem::create_directories(machine_ + "/C/work area");
    struct Case {
        std::string program;
        const WCHAR* directory;
        std::string expected;
    } cases[] = {
        {"Z:\\bin\\sh", WIDE("C:\\work area"), machine_ + "/C/work area"},
        {"/bin/sh", WIDE("Z:\\tmp"), "/tmp"},
        {"sh", WIDE("c:/work area/"), machine_ + "/C/work area"},
    };
    for (const auto& c : cases) {
        auto output = anonymous_pipe(0, true);
        STARTUPINFOW startup{};
        startup.cb = sizeof startup;
        startup.dwFlags = STARTF_USESTDHANDLES;
        startup.hStdOutput = output.write.get();
        auto child = start(c.program + " -c pwd", 0, &startup, TRUE, c.directory);
        output.write.reset();
        EXPECT_EQ(read_all(output.read.get()), c.expected + "\n") << c.program;
        EXPECT_EQ(exit_code_after_wait(child.process.get()), 0u);
    }
}

TEST_F(SimulatedProcess, CreationFailuresGiveTheWindowsErrors) {
    std::filesystem::create_directories(machine_ + "/C/folder");
    EXPECT_EQ(failure_of("C:\\folder\\missing.exe"), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
    EXPECT_EQ(failure_of("quarvel-no-such-program-anywhere"),
              static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
    EXPECT_EQ(failure_of("C:\\no-folder\\missing.exe"), static_cast<DWORD>(ERROR_PATH_NOT_FOUND));
    EXPECT_EQ(failure_of("C:\\folder"), static_cast<DWORD>(ERROR_ACCESS_DENIED));
    EXPECT_EQ(failure_of(probe_command("exit 0"), WIDE("C:\\no-folder")), 267u);
}

TEST_F(SimulatedProcess, InjectedFailuresReachEveryCall) {
    winsim::inject_fault("CreateProcessW", ERROR_ACCESS_DENIED);
    EXPECT_EQ(failure_of(probe_command("exit 0")), static_cast<DWORD>(ERROR_ACCESS_DENIED));

    auto child = start(probe_command("exit 9"), CREATE_SUSPENDED);
    winsim::inject_fault("ResumeThread", ERROR_INVALID_HANDLE);
    EXPECT_EQ(ResumeThread(child.thread.get()), 0xFFFFFFFFu);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
    EXPECT_EQ(WaitForSingleObject(child.process.get(), 100), static_cast<DWORD>(WAIT_TIMEOUT));

    winsim::inject_fault("WaitForSingleObject", ERROR_INVALID_HANDLE);
    EXPECT_EQ(WaitForSingleObject(child.process.get(), INFINITE), WAIT_FAILED);
    winsim::inject_fault("TerminateProcess", ERROR_ACCESS_DENIED);
    EXPECT_FALSE(TerminateProcess(child.process.get(), 125));

    EXPECT_EQ(ResumeThread(child.thread.get()), 1u);
    winsim::inject_fault("GetExitCodeProcess", ERROR_ACCESS_DENIED);
    EXPECT_EQ(WaitForSingleObject(child.process.get(), INFINITE), WAIT_OBJECT_0);
    DWORD code = 0;
    EXPECT_FALSE(GetExitCodeProcess(child.process.get(), &code));
    EXPECT_EQ(exit_code_after_wait(child.process.get()), 9u);

    winsim::inject_fault("CreatePipe", ERROR_NOT_ENOUGH_MEMORY);
    HANDLE read = nullptr;
    HANDLE write = nullptr;
    EXPECT_FALSE(CreatePipe(&read, &write, nullptr, 0));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NOT_ENOUGH_MEMORY));
    winsim::inject_fault("SetHandleInformation", ERROR_INVALID_HANDLE);
    EXPECT_FALSE(SetHandleInformation(child.process.get(), HANDLE_FLAG_INHERIT, 0));
}

TEST_F(SimulatedProcess, QuirksHandBackNullHandles) {
    winsim::inject_fault("CreateProcessW", 1, 1, winsim::FaultKind::quirk);
    auto none = start(probe_command("exit 0"), CREATE_SUSPENDED);
    EXPECT_FALSE(none.process);
    EXPECT_FALSE(none.thread);

    winsim::inject_fault("CreateProcessW", 2, 1, winsim::FaultKind::quirk);
    auto threadless = start(probe_command("exit 0"), CREATE_SUSPENDED);
    ASSERT_TRUE(threadless.process);
    EXPECT_FALSE(threadless.thread);
    ASSERT_TRUE(TerminateProcess(threadless.process.get(), 125));
    EXPECT_EQ(exit_code_after_wait(threadless.process.get()), 125u);
}

TEST_F(SimulatedProcess, WaitingOnSomethingThatIsNoProcessFails) {
    auto pipe = anonymous_pipe(0, false);
    EXPECT_EQ(WaitForSingleObject(pipe.read.get(), 0), WAIT_FAILED);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
    DWORD code = 0;
    EXPECT_FALSE(GetExitCodeProcess(pipe.read.get(), &code));
    EXPECT_EQ(ResumeThread(pipe.read.get()), 0xFFFFFFFFu);
}

}  // namespace
}  // namespace quarvel
