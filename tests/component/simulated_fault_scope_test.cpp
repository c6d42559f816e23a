// Faults for a process further down the tree, chosen by its role (its first argument), faults
// for one kind of object, and the call log: what a sweep over every call site of setup, probe,
// run and the worker needs.

#include <gtest/gtest.h>

#include <winsim/testing.h>

#include <fstream>
#include <string>
#include <vector>

#include "platform/unique_resource.h"
#include "platform/wide_text.h"
#include "platform/win32.h"
#include "support/host_process.h"
#include "support/leak_checked_test.h"

namespace quarvel {
namespace {

class SimulatedFaultScope : public testing::LeakCheckedTest {
  protected:
    // Runs the probe with `arguments` and this process's environment plus `extra` entries,
    // passed as an explicit block; returns its exit code.
    static DWORD run_probe(const std::string& arguments, const std::vector<std::string>& extra) {
        std::u16string block;
        for (char** entry = environ; *entry != nullptr; ++entry)
            block += to_wide(*entry) + u'\0';
        for (const auto& entry : extra)
            block += to_wide(entry) + u'\0';
        block += u'\0';
        // Appended, not prefixed with operator+: GCC 12 at -O3 takes the prefixing for an
        // overlapping copy (-Wrestrict).
        std::string text = "\"";
        text += testing::windows_form(testing::test_program("process_probe"));
        text += "\" ";
        text += arguments;
        WideString line = to_wide(text);
        STARTUPINFOW startup{};
        startup.cb = sizeof startup;
        PROCESS_INFORMATION created{};
        EXPECT_TRUE(CreateProcessW(nullptr, line.data(), nullptr, nullptr, FALSE,
                                   CREATE_UNICODE_ENVIRONMENT, block.data(), nullptr, &startup,
                                   &created));
        UniqueHandle process(created.hProcess);
        UniqueHandle thread(created.hThread);
        EXPECT_EQ(WaitForSingleObject(process.get(), 30000), WAIT_OBJECT_0);
        DWORD code = 0;
        GetExitCodeProcess(process.get(), &code);
        return code;
    }
};

TEST_F(SimulatedFaultScope, AFaultForARoleFiresInTheDescendantOfThatRoleOnly) {
    // relay makes one CreatePipe call of its own (it ends with 99 when that fails), then runs
    // create-pipe, which ends with CreatePipe's error, and ends with that child's code.
    struct Row {
        const char* faults;
        const char* relay;
        DWORD exit_code;
    } rows[] = {
        {"create-pipe/CreatePipe:1:1450", "relay inherit create-pipe", 1450},
        {"create-pipe/CreatePipe:1:1450", "relay block create-pipe", 1450},
        {"relay/CreatePipe:1:1450", "relay inherit create-pipe", 99},
        {"create-pipe/CreatePipe:2:1450", "relay inherit create-pipe", 0},
    };
    for (const auto& row : rows)
        EXPECT_EQ(run_probe(row.relay, {std::string("WINSIM_FAULTS=") + row.faults}), row.exit_code)
            << row.faults << " " << row.relay;
}

TEST_F(SimulatedFaultScope, AFaultArmedHereForARoleReachesThatDescendantAndNotThisProcess) {
    winsim::inject_fault("create-pipe/CreatePipe", 1450);
    HANDLE read = nullptr;
    HANDLE write = nullptr;
    ASSERT_TRUE(CreatePipe(&read, &write, nullptr, 0));
    UniqueHandle read_end(read);
    UniqueHandle write_end(write);
    EXPECT_EQ(run_probe("relay block create-pipe", {}), 1450u);
}

TEST_F(SimulatedFaultScope, AQualifiedFaultFiresOnlyOnThatKindOfObject) {
    std::string text = "\"";
    text += testing::windows_form(testing::test_program("process_probe"));
    text += "\" exit 0";
    WideString line = to_wide(text);
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION created{};
    ASSERT_TRUE(CreateProcessW(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                               &startup, &created));
    UniqueHandle process(created.hProcess);
    UniqueHandle thread(created.hThread);
    winsim::inject_fault("WaitForSingleObject@Thread", ERROR_INVALID_HANDLE);
    EXPECT_EQ(WaitForSingleObject(process.get(), INFINITE), WAIT_OBJECT_0);
    EXPECT_EQ(WaitForSingleObject(thread.get(), INFINITE), WAIT_FAILED);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
    // The bare name still matches every kind.
    winsim::inject_fault("WaitForSingleObject", ERROR_ACCESS_DENIED);
    EXPECT_EQ(WaitForSingleObject(process.get(), INFINITE), WAIT_FAILED);
    EXPECT_EQ(winsim::pending_fault_count(), 0u);
}

TEST_F(SimulatedFaultScope, TheCallLogListsTheCallSitesOfEveryProcessWithItsRole) {
    const std::string log = machine_ + "/calls.log";
    ASSERT_EQ(run_probe("relay block create-pipe", {"WINSIM_CALL_LOG=" + log}), 0u);
    std::ifstream in(log);
    std::vector<std::string> relay;
    std::vector<std::string> child;
    for (std::string line; std::getline(in, line);) {
        if (line.rfind("relay ", 0) == 0)
            relay.push_back(line.substr(6));
        else if (line.rfind("create-pipe ", 0) == 0)
            child.push_back(line.substr(12));
    }
    // In the order relay made them, with the kind of object where one function serves several.
    const std::vector<std::string> expected = {"CreatePipe", "CreateProcessW",
                                               "WaitForSingleObject@Process", "GetExitCodeProcess"};
    auto at = relay.begin();
    for (const auto& call : expected) {
        at = std::find(at, relay.end(), call);
        EXPECT_NE(at, relay.end()) << call;
    }
    EXPECT_NE(std::find(relay.begin(), relay.end(), "CloseHandle@Pipe"), relay.end());
    EXPECT_NE(std::find(child.begin(), child.end(), "CreatePipe"), child.end());
}

TEST_F(SimulatedFaultScope, AFaultCountedAfterAnAnchorFiresThereAndTheLogMarksTheCallThatTookIt) {
    const std::string log = machine_ + "/calls.log";
    ::setenv("WINSIM_CALL_LOG", log.c_str(), 1);
    // The second CreatePipe after the first SetHandleInformation; calls before it do not count.
    winsim::inject_fault_after({"CreatePipe", 2, 1450, winsim::FaultKind::fail},
                               "SetHandleInformation");
    std::vector<BOOL> created;
    for (int k = 0; k < 4; ++k) {
        HANDLE read = nullptr;
        HANDLE write = nullptr;
        created.push_back(CreatePipe(&read, &write, nullptr, 0));
        UniqueHandle read_end(read);
        UniqueHandle write_end(write);
        if (k == 0) {
            EXPECT_TRUE(SetHandleInformation(read, HANDLE_FLAG_INHERIT, 0));
        }
    }
    ::unsetenv("WINSIM_CALL_LOG");
    EXPECT_EQ(created, (std::vector<BOOL>{TRUE, TRUE, FALSE, TRUE}));
    std::ifstream in(log);
    std::vector<std::string> calls;
    for (std::string line; std::getline(in, line);)
        if (line.find(" CloseHandle") == std::string::npos)
            calls.push_back(line.substr(line.find(' ') + 1));
    EXPECT_EQ(calls, (std::vector<std::string>{"CreatePipe", "SetHandleInformation", "CreatePipe",
                                               "CreatePipe fault", "CreatePipe"}));
}

}  // namespace
}  // namespace quarvel
