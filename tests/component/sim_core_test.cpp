// The simulated host's core contracts that the program relies on, and the fault injection that
// the failure-path tests rely on.

#include <gtest/gtest.h>

#include <winsim/testing.h>

#include "cli/console.h"
#include "cli/failure.h"
#include "cli/process_arguments.h"
#include "platform/unique_resource.h"
#include "platform/win32.h"

namespace quarvel {
namespace {

class SimCore : public ::testing::Test {
  protected:
    void TearDown() override { winsim::clear_faults(); }
};

TEST_F(SimCore, ClosingAnUnknownHandleFailsWithInvalidHandle) {
    SetLastError(0);
    EXPECT_FALSE(CloseHandle(reinterpret_cast<HANDLE>(0x4)));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
}

TEST_F(SimCore, LocalFreeReturnsNullForOwnBlocksAndTheBlockOtherwise) {
    const auto before = winsim::outstanding_local_allocations();
    HLOCAL block = LocalAlloc(LPTR, 16);
    ASSERT_NE(block, nullptr);
    EXPECT_EQ(static_cast<unsigned char*>(block)[15], 0);
    EXPECT_EQ(winsim::outstanding_local_allocations(), before + 1);
    EXPECT_EQ(LocalFree(block), nullptr);
    EXPECT_EQ(winsim::outstanding_local_allocations(), before);
    int not_allocated = 0;
    EXPECT_EQ(LocalFree(&not_allocated), &not_allocated);
}

TEST_F(SimCore, InjectedFaultHitsOnlyTheNthCall) {
    winsim::inject_fault("FormatMessageW", 5, 2);
    EXPECT_EQ(system_error_text(2), "The system cannot find the file specified.");
    EXPECT_EQ(system_error_text(2), "Unknown error 2");
    EXPECT_EQ(system_error_text(2), "The system cannot find the file specified.");
    EXPECT_EQ(winsim::pending_fault_count(), 0u);
}

TEST_F(SimCore, UniqueHandleClosingKeepsTheLastError) {
    HANDLE output = GetStdHandle(STD_OUTPUT_HANDLE);
    ASSERT_TRUE(is_valid_handle(output));
    // A second handle to the same descriptor would close it; test with a fresh allocation
    // instead: a LocalPtr releasing memory must not touch the last error either.
    SetLastError(1337);
    {
        LocalPtr<char> memory(static_cast<char*>(LocalAlloc(LPTR, 8)));
        ASSERT_TRUE(memory);
        SetLastError(1337);
    }
    EXPECT_EQ(GetLastError(), 1337u);
    SetLastError(5);
    { UniqueHandle bogus(reinterpret_cast<HANDLE>(0x8)); }  // CloseHandle fails with 6 inside
    EXPECT_EQ(GetLastError(), 5u);
}

TEST_F(SimCore, StandardOutputWriteFailureIsReported) {
    winsim::inject_fault("WriteFile", ERROR_NO_DATA);
    const auto written = write_standard_output("lost\n");
    ASSERT_FALSE(written.has_value());
    EXPECT_EQ(written.error(), static_cast<std::uint32_t>(ERROR_NO_DATA));
    winsim::inject_fault("WriteFile", 0, 1, winsim::FaultKind::quirk);
    EXPECT_FALSE(write_standard_output("lost\n").has_value());
}

TEST_F(SimCore, CommandLineSplitFailureIsReportedWithoutLeaks) {
    const auto before = winsim::outstanding_local_allocations();
    winsim::inject_fault("CommandLineToArgvW", ERROR_NOT_ENOUGH_MEMORY);
    const auto arguments = cli::process_arguments();
    ASSERT_FALSE(arguments.has_value());
    EXPECT_EQ(arguments.error().code, "command_line_unavailable");
    EXPECT_EQ(arguments.error().message,
              "Could not read the process command line. Windows error 8.");
    EXPECT_EQ(arguments.error().exit_code, 70);
    EXPECT_TRUE(cli::process_arguments().has_value());
    EXPECT_EQ(winsim::outstanding_local_allocations(), before);
}

}  // namespace
}  // namespace quarvel
