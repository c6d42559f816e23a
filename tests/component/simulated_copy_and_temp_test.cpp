// CopyFileW and GetTempPathW of the simulated host: the copy's access checks and results, the
// attributes it keeps (a program stays runnable), and the temporary folder's order of
// variables and size protocol.

#include <gtest/gtest.h>

#include <winsim/testing.h>

#include <sys/stat.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <optional>

#include "platform/unique_resource.h"
#include "platform/wide_text.h"
#include "platform/win32.h"
#include "support/leak_checked_test.h"

namespace quarvel {
namespace {

class SimulatedCopyAndTemp : public testing::LeakCheckedTest {
  protected:
    std::filesystem::path host(const std::string& relative) const {
        return std::filesystem::path(machine_) / "C" / relative;
    }
};

TEST_F(SimulatedCopyAndTemp, CopyKeepsBytesAndAttributesAndRefusesWhatCreateFileRefuses) {
    std::filesystem::create_directories(host("work"));
    std::ofstream(host("work/program")) << "#!/bin/sh\nexit 0\n";
    std::filesystem::permissions(host("work/program"), std::filesystem::perms::owner_all);
    std::ofstream(host("work/read-only")) << "old";
    std::filesystem::permissions(host("work/read-only"), std::filesystem::perms::owner_read);

    const struct {
        const char* from;
        const char* to;
        BOOL fail_if_exists;
        DWORD error;
    } rows[] = {
        {"C:\\work\\program", "C:\\work\\copy", TRUE, 0},
        {"C:\\work\\program", "C:\\work\\copy", TRUE, ERROR_FILE_EXISTS},
        {"C:\\work\\program", "C:\\work\\copy", FALSE, 0},
        {"C:\\work\\missing", "C:\\work\\other", FALSE, ERROR_FILE_NOT_FOUND},
        {"C:\\work\\program", "C:\\nowhere\\copy", FALSE, ERROR_PATH_NOT_FOUND},
        {"C:\\work\\program", "C:\\work\\read-only", FALSE, ERROR_ACCESS_DENIED},
    };
    for (const auto& row : rows) {
        const BOOL copied =
            CopyFileW(to_wide(row.from).c_str(), to_wide(row.to).c_str(), row.fail_if_exists);
        EXPECT_EQ(copied ? 0u : GetLastError(), row.error) << row.from << " " << row.to;
    }
    std::ifstream copy(host("work/copy"));
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(copy), {}), "#!/bin/sh\nexit 0\n");
    struct stat status {};
    ASSERT_EQ(::stat(host("work/copy").c_str(), &status), 0);
    EXPECT_NE(status.st_mode & S_IXUSR, 0u);

    // Reading the source is checked with the caller's token like any open.
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    ASSERT_TRUE(ConvertStringSecurityDescriptorToSecurityDescriptorW(
        WIDE("D:P(A;OICI;0x1F01FF;;;BA)"), 1, &descriptor, nullptr));
    LocalPtr<void> owned(descriptor);
    SECURITY_ATTRIBUTES attributes{sizeof attributes, descriptor, FALSE};
    ASSERT_TRUE(CreateDirectoryW(WIDE("C:\\private"), &attributes));
    ASSERT_TRUE(CopyFileW(WIDE("C:\\work\\program"), WIDE("C:\\private\\program"), TRUE));
    const auto original = winsim::process_token_json();
    winsim::ensure_local_user("Somebody", "pw-1");
    winsim::set_process_token_json(winsim::account_token_json("Somebody"));
    const BOOL as_other = CopyFileW(WIDE("C:\\private\\program"), WIDE("C:\\work\\y"), FALSE);
    const DWORD error = GetLastError();
    winsim::set_process_token_json(original);
    EXPECT_FALSE(as_other);
    EXPECT_EQ(error, static_cast<DWORD>(ERROR_ACCESS_DENIED));
    EXPECT_FALSE(std::filesystem::exists(host("work/y")));

    winsim::inject_fault("CopyFileW", DWORD{112});
    EXPECT_FALSE(CopyFileW(WIDE("C:\\work\\program"), WIDE("C:\\work\\z"), FALSE));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(DWORD{112}));
    EXPECT_FALSE(std::filesystem::exists(host("work/z")));
}

TEST_F(SimulatedCopyAndTemp, TemporaryFolderComesFromTheFirstVariableThatIsSet) {
    std::map<std::string, std::optional<std::string>> saved;
    for (const char* name : {"TMP", "TEMP", "USERPROFILE"})
        saved[name] =
            std::getenv(name) ? std::optional<std::string>(std::getenv(name)) : std::nullopt;
    const struct {
        const char* tmp;
        const char* temp;
        const char* profile;
        const char* expected;
    } rows[] = {
        {"C:\\t1", "C:\\t2", "C:\\Users\\x", "C:\\t1\\"},
        {nullptr, "C:\\t2\\", "C:\\Users\\x", "C:\\t2\\"},
        {nullptr, nullptr, "C:\\Users\\x", "C:\\Users\\x\\"},
        {nullptr, nullptr, nullptr, "C:\\Windows\\"},
    };
    for (const auto& row : rows) {
        SetEnvironmentVariableW(WIDE("TMP"), row.tmp ? to_wide(row.tmp).c_str() : nullptr);
        SetEnvironmentVariableW(WIDE("TEMP"), row.temp ? to_wide(row.temp).c_str() : nullptr);
        SetEnvironmentVariableW(WIDE("USERPROFILE"),
                                row.profile ? to_wide(row.profile).c_str() : nullptr);
        const WideString expected = to_wide(row.expected);
        EXPECT_EQ(GetTempPathW(0, nullptr), expected.size() + 1) << row.expected;
        WCHAR small[3] = {};
        EXPECT_EQ(GetTempPathW(3, small), expected.size() + 1) << row.expected;
        WCHAR buffer[MAX_PATH + 1] = {};
        EXPECT_EQ(GetTempPathW(MAX_PATH + 1, buffer), expected.size()) << row.expected;
        EXPECT_EQ(WideString(buffer), expected);
    }
    winsim::inject_fault("GetTempPathW", ERROR_NOT_ENOUGH_MEMORY);
    WCHAR buffer[MAX_PATH + 1] = {};
    EXPECT_EQ(GetTempPathW(MAX_PATH + 1, buffer), 0u);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NOT_ENOUGH_MEMORY));
    for (const auto& [name, value] : saved)
        value ? ::setenv(name.c_str(), value->c_str(), 1) : ::unsetenv(name.c_str());
}

}  // namespace
}  // namespace quarvel
