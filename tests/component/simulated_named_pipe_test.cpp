// The simulated host's named pipes: the Windows results that the channel and its tests rely on.

#include <gtest/gtest.h>

#include <winsim/testing.h>

#include <chrono>
#include <string>

#include "platform/unique_resource.h"
#include "platform/wide_text.h"
#include "platform/win32.h"
#include "support/host_process.h"
#include "support/process_runner.h"

namespace quarvel {
namespace {

class SimulatedNamedPipe : public ::testing::Test {
  protected:
    void SetUp() override {
        testing::use_fresh_machine();
        name_ = to_wide("\\\\.\\pipe\\winsim-test-" + std::to_string(++serial_));
    }
    void TearDown() override { winsim::clear_faults(); }

    HANDLE create(DWORD open_mode = PIPE_ACCESS_DUPLEX | FILE_FLAG_FIRST_PIPE_INSTANCE,
                  DWORD pipe_mode = PIPE_TYPE_BYTE | PIPE_NOWAIT, DWORD instances = 1) {
        return CreateNamedPipeW(name_.c_str(), open_mode, pipe_mode, instances, 65536, 65536, 0,
                                nullptr);
    }
    HANDLE open() {
        return CreateFileW(name_.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                           0, nullptr);
    }

    WideString name_;
    static inline int serial_ = 0;
};

DWORD error_of(HANDLE handle) {
    return handle == INVALID_HANDLE_VALUE ? GetLastError() : 0;
}

TEST_F(SimulatedNamedPipe, CreationRefusalsUseWindowsErrors) {
    UniqueHandle first(create());
    ASSERT_TRUE(first);
    EXPECT_EQ(error_of(create()), static_cast<DWORD>(ERROR_ACCESS_DENIED));
    EXPECT_EQ(error_of(create(PIPE_ACCESS_DUPLEX)), static_cast<DWORD>(ERROR_PIPE_BUSY));
    name_ = to_wide("\\\\.\\notpipe\\x");
    EXPECT_EQ(error_of(create()), static_cast<DWORD>(ERROR_INVALID_NAME));
    name_ = to_wide("\\\\.\\PIPE\\winsim-other");
    EXPECT_EQ(error_of(create(PIPE_ACCESS_DUPLEX, PIPE_TYPE_MESSAGE)),
              static_cast<DWORD>(ERROR_NOT_SUPPORTED));
    EXPECT_EQ(error_of(create(PIPE_ACCESS_DUPLEX, PIPE_TYPE_BYTE, 2)),
              static_cast<DWORD>(ERROR_NOT_SUPPORTED));
}

TEST_F(SimulatedNamedPipe, PipeNamesIgnoreAsciiCaseAndVanishWithTheServer) {
    UniqueHandle server(create());
    ASSERT_TRUE(server);
    const WideString upper = to_wide("\\\\.\\PIPE\\WINSIM-TEST-" + std::to_string(serial_));
    UniqueHandle client(CreateFileW(upper.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                    OPEN_EXISTING, 0, nullptr));
    EXPECT_TRUE(client);
    client.reset();
    server.reset();
    EXPECT_EQ(error_of(open()), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
}

TEST_F(SimulatedNamedPipe, NoWaitServerReportsListeningConnectedAndNoData) {
    UniqueHandle server(create());
    ASSERT_TRUE(server);
    EXPECT_FALSE(ConnectNamedPipe(server.get(), nullptr));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_PIPE_LISTENING));
    char byte = 0;
    DWORD got = 0;
    EXPECT_FALSE(ReadFile(server.get(), &byte, 1, &got, nullptr));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_PIPE_LISTENING));

    UniqueHandle client(open());
    ASSERT_TRUE(client);
    EXPECT_FALSE(ConnectNamedPipe(server.get(), nullptr));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_PIPE_CONNECTED));
    // No-wait reads do not wait for data.
    EXPECT_FALSE(ReadFile(server.get(), &byte, 1, &got, nullptr));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NO_DATA));

    UniqueHandle late_server;
    name_ += to_wide("-late");
    late_server.reset(create());
    UniqueHandle gone(open());
    gone.reset();
    EXPECT_FALSE(ConnectNamedPipe(late_server.get(), nullptr));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NO_DATA));
    EXPECT_FALSE(ConnectNamedPipe(late_server.get(), nullptr));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NO_DATA));
}

TEST_F(SimulatedNamedPipe, ClosedPeerGivesBrokenPipeToReadersAndNoDataToWriters) {
    UniqueHandle server(create());
    UniqueHandle client(open());
    ASSERT_TRUE(client);
    DWORD mode = PIPE_READMODE_BYTE | PIPE_WAIT;
    ASSERT_TRUE(SetNamedPipeHandleState(server.get(), &mode, nullptr, nullptr));
    DWORD moved = 0;
    ASSERT_TRUE(WriteFile(client.get(), "ab", 2, &moved, nullptr));
    client.reset();
    char bytes[4];
    // What was written before the close is still delivered, then the end is reported.
    EXPECT_TRUE(ReadFile(server.get(), bytes, 4, &moved, nullptr));
    EXPECT_EQ(moved, 2u);
    EXPECT_FALSE(ReadFile(server.get(), bytes, 4, &moved, nullptr));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_BROKEN_PIPE));
    EXPECT_FALSE(WriteFile(server.get(), "x", 1, &moved, nullptr));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NO_DATA));
    mode = PIPE_READMODE_MESSAGE;
    EXPECT_FALSE(SetNamedPipeHandleState(server.get(), &mode, nullptr, nullptr));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
}

TEST_F(SimulatedNamedPipe, WaitingForAnInstance) {
    EXPECT_FALSE(WaitNamedPipeW(name_.c_str(), 1000));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
    UniqueHandle server(create());
    EXPECT_TRUE(WaitNamedPipeW(name_.c_str(), 1000));
    UniqueHandle client(open());
    ASSERT_TRUE(client);
    EXPECT_EQ(error_of(open()), static_cast<DWORD>(ERROR_PIPE_BUSY));
    const auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(WaitNamedPipeW(name_.c_str(), 100));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SEM_TIMEOUT));
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(100));
}

TEST_F(SimulatedNamedPipe, DefaultDaclLetsOthersReadButNotWrite) {
    UniqueHandle server(create());
    ASSERT_TRUE(server);
    winsim::ensure_local_user("Reader", "pw-reader-1");
    testing::ProcessOptions options;
    options.environment[winsim::kTokenVariable] = winsim::account_token_json("Reader");
    const std::string name = narrow_lossy(name_);
    const auto program = testing::test_program("pipe_client");
    const auto writer = testing::run_process({program, name, "open"}, options);
    EXPECT_EQ(writer.exit_code, 70);
    EXPECT_NE(writer.standard_error.find("Could not open protected communication channel: 5."),
              std::string::npos)
        << writer.standard_error;
    const auto reader = testing::run_process({program, name, "open-read"}, options);
    EXPECT_EQ(reader.exit_code, 0);
}

}  // namespace
}  // namespace quarvel
