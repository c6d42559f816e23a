// The simulated host's sign-in calls, system paths and netapi32 as Windows documents them:
// LogonUserW's refusals, what a CreateProcessWithLogonW child gets (its
// identity, no standard handles of its creator, a profile environment, none of the creator's
// jobs), GetSystemDirectoryW and GetModuleFileNameW sizes, cmd.exe, and netapi32's refusals.

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <winsim/testing.h>

#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "platform/unique_resource.h"
#include "platform/wide_text.h"
#include "support/host_process.h"
#include "support/leak_checked_test.h"
#include "support/path_security.h"
#include "support/started_program.h"
#include "windows/security/command_line_quoting.h"

namespace quarvel {
namespace {

constexpr const char* kAccount = "worker";
constexpr const char* kPassword = "Secret1!";

using testing::read_all;

class SimulatedLogon : public testing::LeakCheckedTest {
  protected:
    void SetUp() override {
        LeakCheckedTest::SetUp();
        account_sid_ = winsim::ensure_local_user(kAccount, kPassword);
    }

    static DWORD logon_error(const char* account, const char* domain, const char* password,
                             DWORD type = LOGON32_LOGON_INTERACTIVE) {
        UniqueHandle token;
        if (LogonUserW(to_wide(account).c_str(), to_wide(domain).c_str(), to_wide(password).c_str(),
                       type, LOGON32_PROVIDER_DEFAULT, token.put()))
            return token ? 0 : 0xFFFFFFFF;
        return GetLastError();
    }

    static PROCESS_INFORMATION start(const std::vector<std::string>& command, DWORD flags) {
        WideString line = *build_command_line(command);
        STARTUPINFOW startup{};
        startup.cb = sizeof startup;
        PROCESS_INFORMATION created{};
        EXPECT_TRUE(CreateProcessWithLogonW(
            to_wide(kAccount).c_str(), WIDE("."), to_wide(kPassword).c_str(), LOGON_WITH_PROFILE,
            to_wide(command[0]).c_str(), line.data(), flags, nullptr, nullptr, &startup, &created))
            << GetLastError();
        return created;
    }

    std::string account_sid_;
};

// What CreateProcessWithLogonW reports for one start, and the child it made, if any.
struct LogonStart {
    BOOL started = FALSE;
    DWORD error = 0;
    DWORD process_id = 0;
};

LogonStart start_as(const char* image, const char* directory, DWORD flags,
                    const STARTUPINFOW& given) {
    WideString line = *build_command_line({image});
    STARTUPINFOW startup = given;
    PROCESS_INFORMATION created{};
    const WideString current = to_wide(directory == nullptr ? "" : directory);
    LogonStart start;
    start.started = CreateProcessWithLogonW(
        to_wide(kAccount).c_str(), WIDE("."), to_wide(kPassword).c_str(), LOGON_WITH_PROFILE,
        to_wide(image).c_str(), line.data(), flags, nullptr,
        directory == nullptr ? nullptr : current.c_str(), &startup, &created);
    start.error = start.started ? 0 : GetLastError();
    start.process_id = created.dwProcessId;
    UniqueHandle process(created.hProcess), thread(created.hThread);
    if (process)
        WaitForSingleObject(process.get(), 30000);
    return start;
}

STARTUPINFOW startup_info(DWORD flags = 0, WORD show = 0) {
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = flags;
    startup.wShowWindow = show;
    return startup;
}

// A token like LocalSystem's: the system's user and no logon SID among its groups.
std::string local_system_token() {
    auto token = nlohmann::json::parse(winsim::administrator_token_json(true));
    token["user"] = "S-1-5-18";
    auto& groups = token["groups"];
    for (auto group = groups.begin(); group != groups.end();)
        group = ((*group)["attributes"].get<DWORD>() & 0xC0000000) == 0xC0000000
                    ? groups.erase(group)
                    : group + 1;
    return token.dump();
}

// Wrong passwords, disabled accounts and sign-in rights are the sign-in tests' tampering rows.
TEST_F(SimulatedLogon, LogonUserTakesOnlyInteractiveSignInsToLocalAccountsWithAPassword) {
    winsim::ensure_local_user("blank", "");
    EXPECT_EQ(logon_error("WORKER", "winsim-pc", kPassword), 0u);
    EXPECT_EQ(logon_error(kAccount, "OTHERDOMAIN", kPassword), 1326u);
    EXPECT_EQ(logon_error("blank", ".", ""), 1327u);
    EXPECT_EQ(logon_error(kAccount, ".", kPassword, LOGON32_LOGON_NETWORK), 87u);
}

// A locked-out account refuses every sign-in with the right password, after the password check
// (a wrong one is still 1326); unlocking it lets it sign in again.
TEST_F(SimulatedLogon, LockedOutAccountIsRefusedUntilItIsUnlocked) {
    winsim::set_local_user_locked_out(kAccount, true);
    EXPECT_EQ(logon_error(kAccount, ".", "wrong"), 1326u);
    EXPECT_EQ(logon_error(kAccount, ".", kPassword), 1909u);
    winsim::set_local_user_locked_out(kAccount, false);
    EXPECT_EQ(logon_error(kAccount, ".", kPassword), 0u);
}

TEST_F(SimulatedLogon, ChildRunsAsTheAccountWithNoneOfItsCreatorsHandlesOrVariables) {
    ::setenv("QUARVEL_NATIVE_TRACE", "1", 1);
    const std::string seen = machine_ + "/seen";
    const auto created = start({"/bin/sh", "-c",
                                "{ readlink /proc/$$/fd/0 /proc/$$/fd/2; echo "
                                "\"${QUARVEL_NATIVE_TRACE-unset}|$USERNAME|$USERPROFILE\"; " +
                                    testing::test_program("identity_probe") + "; } > " + seen},
                               CREATE_SUSPENDED | CREATE_NO_WINDOW);
    ::unsetenv("QUARVEL_NATIVE_TRACE");
    UniqueHandle process(created.hProcess), thread(created.hThread);
    // The handles work as CreateProcessAsUserW's do: job, resume, wait, exit code.
    UniqueHandle job(CreateJobObjectW(nullptr, nullptr));
    EXPECT_TRUE(AssignProcessToJobObject(job.get(), process.get()));
    EXPECT_EQ(ResumeThread(thread.get()), 1u);
    EXPECT_EQ(WaitForSingleObject(process.get(), 30000), WAIT_OBJECT_0);
    DWORD code = 1;
    EXPECT_TRUE(GetExitCodeProcess(process.get(), &code));
    EXPECT_EQ(code, 0u);
    std::stringstream text;
    text << std::ifstream(seen).rdbuf();
    EXPECT_EQ(text.str(), "/dev/null\n/dev/null\nunset|worker|C:\\Users\\worker\nuser=" +
                              account_sid_ + "\nelevated=0\n");
    EXPECT_TRUE(std::filesystem::is_directory(machine_ + "/C/Users/worker/AppData/Local/Temp"));
}

// The image and the current directory are opened as the account, not as the caller; and the
// secondary logon service needs the logon SID of its caller's token.
TEST_F(SimulatedLogon, ChildIsRefusedWhatItsAccountCannotOpenAndCallersWithoutALogonSid) {
    for (const char* folder : {"open", "private"}) {
        std::filesystem::create_directories(machine_ + "/C/" + folder);
        std::filesystem::copy_file("/bin/true", machine_ + "/C/" + folder + "/true.exe");
    }
    ASSERT_TRUE(
        testing::set_protected_dacl(to_wide("C:\\private"), "D:P(A;OICI;FA;;;BA)(A;OICI;FA;;;SY)"));
    const std::string caller = winsim::process_token_json();
    const struct {
        const char* image;
        const char* directory;
        bool as_local_system;
        DWORD error;
    } rows[] = {
        {"C:\\open\\true.exe", "C:\\open", false, 0},
        {"C:\\private\\true.exe", "C:\\open", false, ERROR_ACCESS_DENIED},
        {"C:\\open\\true.exe", "C:\\private", false, ERROR_ACCESS_DENIED},
        {"C:\\open\\true.exe", "C:\\open", true, ERROR_ACCESS_DENIED},
    };
    for (const auto& row : rows) {
        if (row.as_local_system)
            winsim::set_process_token_json(local_system_token());
        const auto start = start_as(row.image, row.directory, 0, startup_info());
        winsim::set_process_token_json(caller);
        EXPECT_EQ(start.error, row.error) << row.image << " in " << row.directory;
        EXPECT_EQ(start.started != FALSE, row.error == 0) << row.image;
    }
    EXPECT_TRUE(testing::live_children().empty());
}

// Every such child gets a console of its own (CREATE_NEW_CONSOLE is always on, and
// CREATE_NO_WINDOW is ignored with it); only the startup information hides its window.
TEST_F(SimulatedLogon, ChildAlwaysGetsAConsoleWhoseWindowOnlyTheStartupInformationHides) {
    const struct {
        DWORD creation_flags;
        STARTUPINFOW startup;
        bool shown;
    } rows[] = {
        {0, startup_info(), true},
        {CREATE_NO_WINDOW, startup_info(), true},
        {CREATE_NO_WINDOW, startup_info(STARTF_USESHOWWINDOW, SW_HIDE), false},
        {0, startup_info(STARTF_USESHOWWINDOW, 7 /* SW_SHOWMINNOACTIVE */), true},
    };
    std::vector<DWORD> started;
    for (const auto& row : rows) {
        const auto start = start_as("/bin/true", nullptr, row.creation_flags, row.startup);
        ASSERT_TRUE(start.started) << start.error;
        started.push_back(start.process_id);
    }
    // A process made by CreateProcessW keeps its creator's console unless asked otherwise.
    WideString line = to_wide("/bin/true");
    STARTUPINFOW startup = startup_info();
    PROCESS_INFORMATION created{};
    ASSERT_TRUE(CreateProcessW(nullptr, line.data(), nullptr, nullptr, FALSE, CREATE_NO_WINDOW,
                               nullptr, nullptr, &startup, &created));
    UniqueHandle process(created.hProcess), thread(created.hThread);
    EXPECT_FALSE(CreateProcessW(nullptr, line.data(), nullptr, nullptr, FALSE,
                                CREATE_NEW_CONSOLE | DETACHED_PROCESS, nullptr, nullptr, &startup,
                                &created));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));

    const auto windows = nlohmann::json::parse(winsim::console_windows_json());
    ASSERT_EQ(windows.size(), std::size(rows));
    for (std::size_t k = 0; k < std::size(rows); ++k) {
        EXPECT_EQ(windows[k]["process_id"], started[k]) << k;
        EXPECT_EQ(windows[k]["shown"], rows[k].shown) << k;
    }
    WaitForSingleObject(process.get(), 30000);
}

// The child's environment comes from the account's profile, the search path included, and the
// profile folder that the first sign-in makes is the account's alone.
TEST_F(SimulatedLogon, ChildEnvironmentAndProfileFolderAreTheAccountsOwn) {
    const std::string seen = machine_ + "/seen";
    const auto created =
        start({"/bin/sh", "-c",
               "{ printf '%s|%s|%s|' \"$Path\" \"$TEMP\" \"$APPDATA\"; tr '\\0' '\\n' < "
               "/proc/$$/environ | grep -c '^PATH='; } > " +
                   seen},
              0);
    UniqueHandle process(created.hProcess), thread(created.hThread);
    ASSERT_EQ(WaitForSingleObject(process.get(), 30000), WAIT_OBJECT_0);
    std::stringstream text;
    text << std::ifstream(seen).rdbuf();
    const std::string profile = "C:\\Users\\worker";
    EXPECT_EQ(text.str(),
              "C:\\Windows\\System32;C:\\Windows;C:\\Windows\\System32\\Wbem;"
              "C:\\Windows\\System32\\WindowsPowerShell\\v1.0\\;"
              "C:\\Windows\\System32\\OpenSSH\\;" +
                  profile + "\\AppData\\Local\\Microsoft\\WindowsApps;|" + profile +
                  "\\AppData\\Local\\Temp|" + profile + "\\AppData\\Roaming|0\n");

    const auto security = testing::read_path_security(to_wide(profile));
    EXPECT_NE(security.control & SE_DACL_PROTECTED, 0);
    EXPECT_EQ(security.owner, account_sid_);
    const std::vector<testing::AclEntry> expected = {
        {ACCESS_ALLOWED_ACE_TYPE, 3, FILE_ALL_ACCESS, "S-1-5-18"},
        {ACCESS_ALLOWED_ACE_TYPE, 3, FILE_ALL_ACCESS, "S-1-5-32-544"},
        {ACCESS_ALLOWED_ACE_TYPE, 3, FILE_ALL_ACCESS, account_sid_}};
    EXPECT_EQ(security.entries, expected);
    // Its folders inherit that list.
    const auto temp = testing::read_path_security(to_wide(profile + "\\AppData\\Local\\Temp"));
    ASSERT_EQ(temp.entries.size(), 3u);
    for (const auto& entry : temp.entries)
        EXPECT_EQ(entry.flags & INHERITED_ACE, INHERITED_ACE);
}

TEST_F(SimulatedLogon, StartWithAProfileThatCannotBeMadeFailsAndStartsNothing) {
    const auto lock = std::filesystem::path(machine_) / ".lock";
    std::filesystem::remove(lock);
    std::filesystem::create_directory(lock);  // a lock file that cannot be opened
    const std::string ran = machine_ + "/ran";
    WideString line = *build_command_line({"/bin/sh", "-c", "touch " + ran});
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION created{};
    EXPECT_FALSE(CreateProcessWithLogonW(
        to_wide(kAccount).c_str(), WIDE("."), to_wide(kPassword).c_str(), LOGON_WITH_PROFILE,
        WIDE("/bin/sh"), line.data(), 0, nullptr, nullptr, &startup, &created));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
    EXPECT_EQ(created.hProcess, nullptr);
    EXPECT_EQ(created.hThread, nullptr);
    std::filesystem::remove(lock);
    EXPECT_TRUE(testing::live_children().empty());
    EXPECT_FALSE(std::filesystem::exists(ran));
}

TEST_F(SimulatedLogon, ChildOfAJobMemberJoinsNoneOfItsJobs) {
    HANDLE read = nullptr, write = nullptr;
    SECURITY_ATTRIBUTES inheritable{sizeof inheritable, nullptr, TRUE};
    ASSERT_TRUE(CreatePipe(&read, &write, &inheritable, 0));
    UniqueHandle reader(read), writer(write);
    WideString line =
        *build_command_line({testing::test_program("logon_probe"), kAccount, kPassword,
                             testing::test_program("process_probe"), "sleep"});
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdOutput = writer.get();
    PROCESS_INFORMATION created{};
    ASSERT_TRUE(CreateProcessW(nullptr, line.data(), nullptr, nullptr, TRUE, CREATE_SUSPENDED,
                               nullptr, nullptr, &startup, &created));
    UniqueHandle probe(created.hProcess), thread(created.hThread);
    UniqueHandle job(CreateJobObjectW(nullptr, nullptr));
    ASSERT_TRUE(AssignProcessToJobObject(job.get(), probe.get()));
    ResumeThread(thread.get());
    writer.reset();
    // Appended, not prefixed with operator+: GCC 12 at -O3 takes the prefixing for an
    // overlapping copy (-Wrestrict).
    std::string digits = "0";
    digits += read_all(reader.get());
    const pid_t started = static_cast<pid_t>(std::stol(digits));
    ASSERT_NE(started, 0);
    const std::string members = nlohmann::json::parse(winsim::jobs_json()).dump();
    EXPECT_NE(members.find("\"pid\":" + std::to_string(created.dwProcessId)), std::string::npos);
    EXPECT_EQ(members.find("\"pid\":" + std::to_string(started)), std::string::npos) << members;
    ::kill(started, SIGKILL);
    EXPECT_TRUE(testing::wait_until_ended(started, 30000));
}

TEST_F(SimulatedLogon, SystemPathsFollowTheirSizeProtocols) {
    WCHAR small[8];
    EXPECT_EQ(GetSystemDirectoryW(small, 8), 20u);  // C:\Windows\System32 and its zero
    WCHAR directory[20];
    EXPECT_EQ(GetSystemDirectoryW(directory, 20), 19u);
    EXPECT_EQ(narrow_lossy(directory), "C:\\Windows\\System32");

    std::vector<WCHAR> path(4096);
    const DWORD length = GetModuleFileNameW(nullptr, path.data(), 4096);
    const std::string expected =
        testing::windows_form(std::filesystem::canonical("/proc/self/exe"));
    EXPECT_EQ(narrow_lossy(path.data()), expected);
    EXPECT_EQ(length, expected.size());
    EXPECT_EQ(GetModuleFileNameW(nullptr, path.data(), 5), 5u);
    EXPECT_EQ(GetLastError(), 122u);
    EXPECT_EQ(narrow_lossy(path.data()), expected.substr(0, 4));
}

TEST_F(SimulatedLogon, SystemCommandUnderstandsOnlyExit) {
    WCHAR directory[MAX_PATH];
    GetSystemDirectoryW(directory, MAX_PATH);
    const std::string command = narrow_lossy(directory) + "\\cmd.exe";
    for (const auto& [last, expected] : {std::pair{"exit 7", 7u}, {"dir", 1u}}) {
        WideString line = to_wide(command + " /D /C " + last);
        STARTUPINFOW startup{};
        startup.cb = sizeof startup;
        PROCESS_INFORMATION created{};
        ASSERT_TRUE(CreateProcessW(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr,
                                   nullptr, &startup, &created));
        UniqueHandle process(created.hProcess), thread(created.hThread);
        WaitForSingleObject(process.get(), 30000);
        DWORD code = 0;
        GetExitCodeProcess(process.get(), &code);
        EXPECT_EQ(code, expected) << last;
    }
}

TEST_F(SimulatedLogon, NetapiAddsMembersAllOrNothingAndOnlyAccounts) {
    WideString team = to_wide("team"), worker = to_wide(kAccount), nobody = to_wide("nobody");
    LOCALGROUP_INFO_1 group{team.data(), nullptr}, clash{worker.data(), nullptr};
    ASSERT_EQ(NetLocalGroupAdd(nullptr, 1, reinterpret_cast<LPBYTE>(&group), nullptr), 0u);
    EXPECT_EQ(NetLocalGroupAdd(nullptr, 1, reinterpret_cast<LPBYTE>(&clash), nullptr), 2224u);
    LOCALGROUP_MEMBERS_INFO_3 members[] = {{worker.data()}, {nobody.data()}, {team.data()}};
    const auto add = [&](LPCWSTR group_name, LOCALGROUP_MEMBERS_INFO_3* first, DWORD count) {
        return NetLocalGroupAddMembers(nullptr, group_name, 3, reinterpret_cast<LPBYTE>(first),
                                       count);
    };
    EXPECT_EQ(add(team.c_str(), members, 2), 1387u);
    EXPECT_EQ(nlohmann::json::parse(winsim::accounts_json())["groups"][2]["members"].size(), 0u);
    EXPECT_EQ(add(WIDE("Users"), &members[2], 1), 1388u);
    EXPECT_EQ(add(WIDE("nothing"), members, 1), 2220u);
    // The machine's "None" group is a global group, not a local one.
    EXPECT_EQ(add(WIDE("None"), members, 1), 2220u);
}

// USER_INFO_1 and USER_INFO_1008 flags as documented: a new account is a normal one; level 1008
// replaces the flags but keeps the account type, and UF_LOCKOUT can clear a lockout, never set
// one.
TEST_F(SimulatedLogon, NetapiAccountFlagsFollowTheDocumentedRules) {
    const auto flags_of = [](const char* name) -> std::uint32_t {
        const auto store = nlohmann::json::parse(winsim::accounts_json());
        for (const auto& user : store["users"])
            if (user["name"] == name)
                return user["flags"];
        return 0xFFFFFFFF;
    };
    const struct {
        const char* what;
        DWORD before;  // the account's flags
        DWORD requested;
        NET_API_STATUS status;
        DWORD parameter;  // parm_err on ERROR_INVALID_PARAMETER
        DWORD after;
    } rows[] = {
        {"enable", 0x0203, 0x0201, 0, 0, 0x0201},
        {"no type keeps the type", 0x0201, 0x10041, 0, 0, 0x10241},
        {"clear a lockout", 0x0211, 0x0201, 0, 0, 0x0201},
        {"keep a lockout", 0x0211, 0x0211, 0, 0, 0x0211},
        {"no lockout by request", 0x0201, 0x0211, 0, 0, 0x0201},
        {"another type", 0x0201, 0x1001, 87, 8, 0x0201},
        {"two types", 0x0201, 0x0301, 87, 8, 0x0201},
    };
    WideString name = to_wide(kAccount);
    for (const auto& row : rows) {
        winsim::set_local_user_flags(kAccount, row.before);
        USER_INFO_1008 info{row.requested};
        DWORD parameter = 0;
        EXPECT_EQ(NetUserSetInfo(nullptr, name.c_str(), 1008, reinterpret_cast<LPBYTE>(&info),
                                 &parameter),
                  row.status)
            << row.what;
        EXPECT_EQ(parameter, row.parameter) << row.what;
        EXPECT_EQ(flags_of(kAccount), row.after) << row.what;
    }
    USER_INFO_1008 info{0x0201};
    EXPECT_EQ(
        NetUserSetInfo(nullptr, WIDE("nobody"), 1008, reinterpret_cast<LPBYTE>(&info), nullptr),
        2221u);
    EXPECT_EQ(NetUserSetInfo(nullptr, name.c_str(), 1009, reinterpret_cast<LPBYTE>(&info), nullptr),
              124u);

    WideString fresh = to_wide("fresh"), locked = to_wide("locked"), trust = to_wide("trust$x");
    WideString password = to_wide("Secret2!");
    const auto add = [&](WideString& user_name, DWORD flags, DWORD* parameter) {
        USER_INFO_1 user{user_name.data(), password.data(), 0,     USER_PRIV_USER,
                         nullptr,          nullptr,         flags, nullptr};
        return NetUserAdd(nullptr, 1, reinterpret_cast<LPBYTE>(&user), parameter);
    };
    DWORD parameter = 0;
    EXPECT_EQ(add(fresh, 0x10041, &parameter), 0u);
    EXPECT_EQ(flags_of("fresh"), 0x10241u);
    EXPECT_EQ(add(locked, 0x0211, &parameter), 0u);
    EXPECT_EQ(flags_of("locked"), 0x0201u);
    EXPECT_EQ(add(trust, 0x1001, &parameter), 87u);
    EXPECT_EQ(parameter, 8u);
}

}  // namespace
}  // namespace quarvel
