#pragma once
// What the environment, OpenProcess and GetNamedPipeClientProcessId answer for the cases the
// program depends on, checked against whichever kernel32 the test binary links: the simulated
// host's in the host lane, Wine's in the Wine lane. Header-only, for both test binaries.

#include <gtest/gtest.h>

#include <string>

#include "platform/unique_resource.h"
#include "platform/wide_text.h"
#include "platform/win32.h"
#include "support/file_semantics.h"
#include "unit/pipe_client_process.h"
#include "windows/channel/message_framing.h"
#include "windows/channel/protected_pipe.h"

namespace quarvel::testing {

// The size protocol: the length without the zero when the value fits, else the size it needs
// with the zero; an empty value returns 0 and leaves the last error alone; names are found
// without regard to letter case; unpaired surrogates survive.
inline void expect_environment_results() {
    WCHAR buffer[64] = {};
    ASSERT_TRUE(SetEnvironmentVariableW(WIDE("QUARVEL_TEST_VALUE"), WIDE("abc")));
    EXPECT_EQ(GetEnvironmentVariableW(WIDE("QUARVEL_TEST_VALUE"), buffer, 4), 3u);
    EXPECT_EQ(WideString(buffer), WIDE("abc"));
    EXPECT_EQ(GetEnvironmentVariableW(WIDE("QUARVEL_TEST_VALUE"), buffer, 3), 4u);
    EXPECT_EQ(GetEnvironmentVariableW(WIDE("QUARVEL_TEST_VALUE"), nullptr, 0), 4u);
    EXPECT_EQ(GetEnvironmentVariableW(WIDE("quarvel_test_value"), buffer, 64), 3u);

    ASSERT_TRUE(SetEnvironmentVariableW(WIDE("QUARVEL_TEST_EMPTY"), WIDE("")));
    SetLastError(1234);
    EXPECT_EQ(GetEnvironmentVariableW(WIDE("QUARVEL_TEST_EMPTY"), buffer, 64), 0u);
    EXPECT_EQ(GetLastError(), 1234u);
    EXPECT_EQ(GetEnvironmentVariableW(WIDE("QUARVEL_TEST_EMPTY"), nullptr, 0), 1u);

    SetLastError(0);
    EXPECT_EQ(GetEnvironmentVariableW(WIDE("QUARVEL_TEST_UNSET"), buffer, 64), 0u);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ENVVAR_NOT_FOUND));

    const WCHAR unpaired[] = {WIDE('x'), static_cast<WCHAR>(0xD800), WIDE('y'), 0};
    ASSERT_TRUE(SetEnvironmentVariableW(WIDE("QUARVEL_TEST_SURROGATE"), unpaired));
    EXPECT_EQ(GetEnvironmentVariableW(WIDE("QUARVEL_TEST_SURROGATE"), buffer, 64), 3u);
    EXPECT_EQ(WideString(buffer), WideString(unpaired));

    EXPECT_FALSE(SetEnvironmentVariableW(WIDE(""), WIDE("x")));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
    EXPECT_FALSE(SetEnvironmentVariableW(WIDE("A=B"), WIDE("x")));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
    for (const auto* name : {WIDE("QUARVEL_TEST_VALUE"), WIDE("QUARVEL_TEST_EMPTY"),
                             WIDE("QUARVEL_TEST_SURROGATE"), WIDE("QUARVEL_TEST_UNSET")})
        EXPECT_TRUE(SetEnvironmentVariableW(name, nullptr));
    EXPECT_EQ(GetEnvironmentVariableW(WIDE("QUARVEL_TEST_VALUE"), buffer, 64), 0u);
}

// No process behind the id: 87. A handle does only what its rights allow, each refusal 5.
inline void expect_open_process_results() {
    for (const DWORD missing : {0u, 0x7FFFFFF0u}) {
        EXPECT_EQ(OpenProcess(SYNCHRONIZE, FALSE, missing), nullptr);
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER)) << missing;
    }
    UniqueHandle full(OpenProcess(PROCESS_ALL_ACCESS, FALSE, GetCurrentProcessId()));
    ASSERT_TRUE(full);
    DWORD code = 0;
    ASSERT_TRUE(GetExitCodeProcess(full.get(), &code));
    EXPECT_EQ(code, STILL_ACTIVE);

    UniqueHandle waiter(OpenProcess(SYNCHRONIZE, FALSE, GetCurrentProcessId()));
    ASSERT_TRUE(waiter);
    EXPECT_FALSE(GetExitCodeProcess(waiter.get(), &code));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
    EXPECT_FALSE(TerminateProcess(waiter.get(), 1));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
    EXPECT_EQ(GetProcessId(waiter.get()), 0u);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));

    UniqueHandle reader(
        OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, GetCurrentProcessId()));
    ASSERT_TRUE(reader);
    EXPECT_EQ(WaitForSingleObject(reader.get(), 0), WAIT_FAILED);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
    EXPECT_EQ(GetProcessId(reader.get()), GetCurrentProcessId());
}

// The runner's pipe (the program's own calls) names the process that opened it; a client end
// names its own process; a file is no pipe (50), a closed handle no handle (6).
inline void expect_pipe_client_process_results() {
    auto pipe = create_protected_pipe(current_user_sid(), current_user_sid());
    ASSERT_TRUE(pipe) << pipe.error().message;
    auto client = start_pipe_client(pipe->name, "echo");
    ASSERT_TRUE(client.process);
    ASSERT_TRUE(accept_worker(pipe->handle.get(), client.process.get()));
    ULONG id = 0;
    ASSERT_TRUE(GetNamedPipeClientProcessId(pipe->handle.get(), &id));
    EXPECT_EQ(id, client.id);
    ASSERT_TRUE(write_message_body(pipe->handle.get(), "{}"));
    EXPECT_EQ(read_message_body(pipe->handle.get()).value_or(""), "{}");
    EXPECT_EQ(wait_for_exit_code(client.process.get()), 0u);

    auto own = create_protected_pipe(current_user_sid(), current_user_sid());
    ASSERT_TRUE(own) << own.error().message;
    auto own_client = open_protected_pipe(own->name);
    ASSERT_TRUE(own_client) << own_client.error().message;
    ASSERT_TRUE(GetNamedPipeClientProcessId(own_client->get(), &id));
    EXPECT_EQ(id, GetCurrentProcessId());

    ScratchDirectory scratch;
    const auto path = scratch.name("not-a-pipe");
    ASSERT_TRUE(write_file(path, "x"));
    UniqueHandle file(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                  OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    ASSERT_TRUE(file);
    EXPECT_FALSE(GetNamedPipeClientProcessId(file.get(), &id));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NOT_SUPPORTED));
    EXPECT_FALSE(GetNamedPipeClientProcessId(reinterpret_cast<HANDLE>(0x7FFFF0), &id));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
}

}  // namespace quarvel::testing
