// The runner's own steps run in this process, each made to fail before a worker exists, with the
// process's handles, LocalAlloc blocks, COM objects and BSTRs counted: the runs of the other
// tests start the program as a separate process, where a lock, a pipe or a descriptor the runner
// forgot on a failure path would go unnoticed when the process ends.

#include <gtest/gtest.h>

#include <winsim/testing.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "platform/wide_text.h"
#include "platform/win32.h"
#include "support/fault_row.h"
#include "support/leak_checked_test.h"
#include "support/process_runner.h"
#include "windows/runner/run_operation.h"

namespace quarvel {
namespace {

class RunnerResources : public testing::LeakCheckedTest {
  protected:
    void SetUp() override {
        LeakCheckedTest::SetUp();
        for (const char* folder : {"project", "out", "runtime"})
            std::filesystem::create_directories(std::filesystem::path(machine_) / "C/work" /
                                                folder);
        std::ofstream(std::filesystem::path(machine_) / "C/work/policy.json")
            << R"({"cwd":"C:\\work\\project","runtime_dir":"C:\\work\\runtime",)"
            << R"("status_file":"C:\\work\\status.json","writable_roots":["C:\\work\\out"]})";
        const auto setup = testing::run_process({QUARVEL_EXE, "setup", "--state-dir", kStateDir,
                                                 "--status-file", "C:\\work\\setup.json"});
        ASSERT_EQ(setup.exit_code, 0) << setup.standard_error;
        // The standard handles live as long as the process; the failure's error line opens them.
        for (const DWORD which : {STD_INPUT_HANDLE, STD_OUTPUT_HANDLE, STD_ERROR_HANDLE})
            GetStdHandle(which);
        count_resources_from_now();
        com_objects_ = winsim::live_com_objects();
        bstrs_ = winsim::outstanding_bstrs();
    }

    static constexpr const char* kStateDir = "C:\\ProgramData\\Quarvel";
    std::size_t com_objects_ = 0;
    std::size_t bstrs_ = 0;
};

TEST_F(RunnerResources, EachFailureBeforeTheWorkerGivesBackWhatTheRunnerTook) {
    using winsim::FaultKind;
    // Each row fails a later step: the lock, the first and the third access-list write (a
    // grant already made), the pipe, the runner's own path and the worker's start.
    const testing::FaultRow rows[] = {
        {"CreateMutexW", 1, 5, FaultKind::fail, "acl_lock_failed", "Could not open"},
        {"GetFinalPathNameByHandleW", 1, 5, FaultKind::fail, "io_error", "Could not resolve"},
        {"SetNamedSecurityInfoW", 1, 5, FaultKind::fail, "acl_update_failed", "Could not apply"},
        {"SetNamedSecurityInfoW", 3, 5, FaultKind::fail, "acl_update_failed", "Could not apply"},
        {"CreateNamedPipeW", 1, 8, FaultKind::fail, "ipc_create_failed", "Could not create"},
        {"GetModuleFileNameW", 1, 5, FaultKind::fail, "io_error", "Could not locate"},
        {"CreateProcessWithLogonW", 1, 1326, FaultKind::fail, "worker_start_failed",
         "Could not create"},
    };
    for (const auto& row : rows) {
        const std::size_t handles = winsim::open_handle_count();
        const std::size_t allocations = winsim::outstanding_local_allocations();
        testing::arm(row);
        const std::int32_t exit_code =
            run_operation(to_wide(kStateDir), to_wide("C:\\work\\policy.json"),
                          {"cmd.exe", "/d", "/c", "exit 0"});
        winsim::clear_faults();
        EXPECT_EQ(exit_code, std::string(row.code) == "io_error" ? 74 : 70) << row.function;
        std::ifstream status(std::filesystem::path(machine_) / "C/work/status.json");
        const std::string document{std::istreambuf_iterator<char>(status), {}};
        EXPECT_NE(document.find(std::string("\"code\":\"") + row.code + "\""), std::string::npos)
            << row.function << " #" << row.nth << ": " << document;
        EXPECT_EQ(winsim::open_handle_count(), handles) << row.function << " #" << row.nth;
        EXPECT_EQ(winsim::outstanding_local_allocations(), allocations)
            << row.function << " #" << row.nth;
        EXPECT_EQ(winsim::live_com_objects(), com_objects_) << row.function;
        EXPECT_EQ(winsim::outstanding_bstrs(), bstrs_) << row.function;
    }
}

}  // namespace
}  // namespace quarvel
