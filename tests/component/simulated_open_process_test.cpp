// OpenProcess on the simulated host: who may open a process follows the descriptor the call
// that made it gave it, and an opened handle does only what its rights allow.

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <winsim/testing.h>

#include <string>

#include "platform/unique_resource.h"
#include "platform/wide_text.h"
#include "platform/win32.h"
#include "support/host_process.h"
#include "support/leak_checked_test.h"

namespace quarvel {
namespace {

struct Started {
    UniqueHandle process;
    UniqueHandle thread;
    DWORD pid = 0;
};

std::string probe(const std::string& arguments) {
    // Appended, not prefixed with operator+: GCC 12 at -O3 takes the prefixing for an
    // overlapping copy (-Wrestrict).
    std::string line = "\"";
    line += testing::windows_form(testing::test_program("process_probe"));
    line += "\" ";
    line += arguments;
    return line;
}

// The elevated administrator with SeDebugPrivilege enabled.
std::string debugging_administrator() {
    auto token = nlohmann::json::parse(winsim::administrator_token_json(true));
    for (auto& privilege : token["privileges"])
        if (privilege["name"] == "SeDebugPrivilege")
            privilege["attributes"] = 3;
    return token.dump();
}

class SimulatedOpenProcess : public testing::LeakCheckedTest {
  protected:
    void SetUp() override {
        LeakCheckedTest::SetUp();
        winsim::ensure_local_user("QuarvelSandboxOnline", "Secret-1!");
        winsim::ensure_local_user("SomeoneElse", "Secret-2!");
        administrator_ = winsim::administrator_token_json(true);
    }
    void TearDown() override {
        winsim::set_process_token_json(administrator_);
        LeakCheckedTest::TearDown();
    }

    // Started as `token_json` (empty: as this process), with the descriptor of `sddl` (empty:
    // the default one).
    static Started start(const std::string& arguments, const std::string& token_json = "",
                         const std::string& sddl = "") {
        return start_line(probe(arguments), token_json, sddl);
    }
    static Started start_line(const std::string& command_line, const std::string& token_json = "",
                              const std::string& sddl = "") {
        PSECURITY_DESCRIPTOR descriptor = nullptr;
        if (!sddl.empty()) {
            EXPECT_TRUE(ConvertStringSecurityDescriptorToSecurityDescriptorW(
                to_wide(sddl).c_str(), SDDL_REVISION_1, &descriptor, nullptr));
        }
        LocalPtr<void> descriptor_owner(descriptor);
        SECURITY_ATTRIBUTES attributes{sizeof(SECURITY_ATTRIBUTES), descriptor, FALSE};
        WideString line = to_wide(command_line);
        STARTUPINFOW startup{};
        startup.cb = sizeof startup;
        PROCESS_INFORMATION created{};
        if (token_json.empty()) {
            EXPECT_TRUE(CreateProcessW(nullptr, line.data(), sddl.empty() ? nullptr : &attributes,
                                       nullptr, FALSE, 0, nullptr, nullptr, &startup, &created));
        } else {
            UniqueHandle token(winsim::create_token_handle(token_json));
            EXPECT_TRUE(CreateProcessAsUserW(token.get(), nullptr, line.data(), nullptr, nullptr,
                                             FALSE, 0, nullptr, nullptr, &startup, &created));
        }
        return {UniqueHandle(created.hProcess), UniqueHandle(created.hThread), created.dwProcessId};
    }

    // 0 when `token_json` may open `pid` for `access`, else the error.
    DWORD open_as(const std::string& token_json, DWORD pid, DWORD access) {
        winsim::set_process_token_json(token_json);
        UniqueHandle opened(OpenProcess(access, FALSE, pid));
        const DWORD error = opened ? 0 : GetLastError();
        winsim::set_process_token_json(administrator_);
        return error;
    }

    std::string administrator_;
};

TEST_F(SimulatedOpenProcess, WhoMayOpenAProcessFollowsTheDescriptorOfTheCallThatMadeIt) {
    const auto owner = winsim::account_token_json("QuarvelSandboxOnline");
    const auto owner_again = winsim::account_token_json("QuarvelSandboxOnline");
    const auto stranger = winsim::account_token_json("SomeoneElse");
    // Given descriptor: Everyone may wait, nothing more.
    auto described = start("sleep 60000", "", "D:(A;;0x100000;;;WD)");
    // CreateProcessAsUserW without attributes: the default DACL of the token it was given.
    auto as_owner = start("sleep 60000", owner);
    const DWORD self = GetCurrentProcessId();  // started from a shell
    const struct {
        const char* what;
        const std::string& who;
        DWORD pid;
        DWORD access;
        DWORD error;
    } rows[] = {
        {"described, wait", administrator_, described.pid, SYNCHRONIZE, 0},
        {"described, terminate", administrator_, described.pid, PROCESS_TERMINATE, 5},
        {"described, stranger waits", stranger, described.pid, SYNCHRONIZE, 0},
        {"owner's, by another sign-in", owner_again, as_owner.pid, PROCESS_ALL_ACCESS, 0},
        {"owner's, by a stranger", stranger, as_owner.pid, PROCESS_QUERY_LIMITED_INFORMATION, 5},
        {"owner's, by the administrator", administrator_, as_owner.pid,
         PROCESS_QUERY_LIMITED_INFORMATION, 5},
        {"owner's, by a debugger", debugging_administrator(), as_owner.pid, PROCESS_ALL_ACCESS, 0},
        {"shell's, by the administrator", administrator_, self, PROCESS_ALL_ACCESS, 0},
        {"shell's, by a stranger", stranger, self, SYNCHRONIZE, 5},
        {"no such process", administrator_, 0x7FFFFFF0u, SYNCHRONIZE, 87},
        {"the idle process", administrator_, 0, SYNCHRONIZE, 87},
    };
    for (const auto& row : rows)
        EXPECT_EQ(open_as(row.who, row.pid, row.access), row.error) << row.what;
    for (auto* started : {&described, &as_owner}) {
        TerminateProcess(started->process.get(), 1);
        WaitForSingleObject(started->process.get(), INFINITE);
    }
}

TEST_F(SimulatedOpenProcess, AProcessEndedThroughAnOpenedHandleShowsItsCodeToEveryHandle) {
    auto child = start("sleep 60000");
    UniqueHandle ender(OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, child.pid));
    UniqueHandle reader(OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, child.pid));
    ASSERT_TRUE(ender && reader);
    ASSERT_TRUE(TerminateProcess(ender.get(), 77));
    EXPECT_EQ(WaitForSingleObject(ender.get(), 30000), WAIT_OBJECT_0);
    for (const HANDLE handle : {reader.get(), child.process.get()}) {
        DWORD code = 0;
        ASSERT_TRUE(GetExitCodeProcess(handle, &code));
        EXPECT_EQ(code, 77u);
    }
}

TEST_F(SimulatedOpenProcess, AnOpenerReadsTheCodeHoweverTheProcessEnded) {
    // ExitProcess with a small and a wide code, and a program that just returns from main.
    const struct {
        std::string command_line;
        DWORD code;
    } rows[] = {{probe("exit 3"), 3},
                {probe("exit 3221225477"), 3221225477u},
                {"/bin/sh -c \"exit 5\"", 5}};
    for (const auto& row : rows) {
        auto child = start_line(row.command_line);
        UniqueHandle opened(
            OpenProcess(SYNCHRONIZE | PROCESS_QUERY_LIMITED_INFORMATION, FALSE, child.pid));
        ASSERT_TRUE(opened);
        EXPECT_EQ(WaitForSingleObject(opened.get(), 30000), WAIT_OBJECT_0);
        DWORD code = 0;
        ASSERT_TRUE(GetExitCodeProcess(opened.get(), &code));
        EXPECT_EQ(code, row.code) << row.command_line;
    }
}

}  // namespace
}  // namespace quarvel
