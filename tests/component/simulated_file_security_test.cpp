// Security descriptors of files and directories on the simulated host: Windows' inheritance
// rules, a descriptor that follows its file and goes with it, names without regard to case,
// reparse tags and final paths, the access checks of the file calls, and the machine lock.

#include <gtest/gtest.h>

#include <winsim/netapi.h>
#include <winsim/testing.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "platform/wide_text.h"
#include "support/file_semantics.h"
#include "support/leak_checked_test.h"
#include "support/path_security.h"
#include "support/run_as.h"

namespace quarvel {
namespace {

using testing::AclEntry;
using testing::read_path_security;

constexpr const char* kAdministrators = "S-1-5-32-544";
constexpr BYTE kInherited = INHERITED_ACE;
constexpr BYTE kBoth = OBJECT_INHERIT_ACE | CONTAINER_INHERIT_ACE;

class SimulatedFileSecurity : public testing::LeakCheckedTest {
  protected:
    // Gives `path` exactly the DACL of the SDDL text, protected from its parent.
    static void set_protected_dacl(const WideString& path, const char* sddl) {
        ASSERT_TRUE(testing::set_protected_dacl(path, sddl)) << sddl;
    }

    std::filesystem::path host(const std::string& relative) const {
        return std::filesystem::path(machine_) / "C" / relative;
    }
};

TEST_F(SimulatedFileSecurity, NewFilesAndDirectoriesInheritByWindowsRules) {
    const WideString parent = to_wide("C:\\rules");
    ASSERT_TRUE(CreateDirectoryW(parent.c_str(), nullptr));
    set_protected_dacl(parent,
                       "D:P(A;OICI;FA;;;BA)(A;OI;0x1200a9;;;BU)(A;CI;0x1301bf;;;AU)"
                       "(A;OICINP;0x1200a9;;;S-1-5-21-1-1-1-5)(A;OICIIO;GA;;;CO)"
                       "(A;CIIO;GW;;;S-1-5-21-1-1-1-6)");
    ASSERT_TRUE(testing::write_file(to_wide("C:\\rules\\file.txt"), "x"));
    ASSERT_TRUE(CreateDirectoryW(to_wide("C:\\rules\\dir").c_str(), nullptr));

    const DWORD all = FILE_ALL_ACCESS;
    const auto file = read_path_security(to_wide("C:\\rules\\file.txt"));
    EXPECT_EQ(file.owner, kAdministrators);
    EXPECT_EQ(file.entries, (std::vector<AclEntry>{
                                {0, kInherited, all, kAdministrators},
                                {0, kInherited, 0x1200a9, "S-1-5-32-545"},
                                {0, kInherited, 0x1200a9, "S-1-5-21-1-1-1-5"},
                                {0, kInherited, all, kAdministrators},  // CREATOR OWNER
                            }));
    EXPECT_NE(file.control & SE_DACL_AUTO_INHERITED, 0);
    EXPECT_EQ(file.control & SE_DACL_PROTECTED, 0);

    const auto dir = read_path_security(to_wide("C:\\rules\\dir"));
    EXPECT_EQ(dir.entries,
              (std::vector<AclEntry>{
                  {0, kBoth | kInherited, all, kAdministrators},
                  {0, OBJECT_INHERIT_ACE | INHERIT_ONLY_ACE | kInherited, 0x1200a9, "S-1-5-32-545"},
                  {0, CONTAINER_INHERIT_ACE | kInherited, 0x1301bf, "S-1-5-11"},
                  {0, kInherited, 0x1200a9, "S-1-5-21-1-1-1-5"},
                  {0, kInherited, all, kAdministrators},
                  {0, kBoth | INHERIT_ONLY_ACE | kInherited, GENERIC_ALL, "S-1-3-0"},
                  {0, kInherited, FILE_GENERIC_WRITE, "S-1-5-21-1-1-1-6"},
                  {0, CONTAINER_INHERIT_ACE | INHERIT_ONLY_ACE | kInherited, GENERIC_WRITE,
                   "S-1-5-21-1-1-1-6"},
              }));
}

TEST_F(SimulatedFileSecurity, ADescriptorFollowsItsFileAndGoesWithIt) {
    ASSERT_TRUE(CreateDirectoryW(to_wide("C:\\from").c_str(), nullptr));
    ASSERT_TRUE(CreateDirectoryW(to_wide("C:\\to").c_str(), nullptr));
    set_protected_dacl(to_wide("C:\\to"), "D:P(A;OICI;FA;;;BA)");
    const WideString first = to_wide("C:\\from\\file.txt");
    ASSERT_TRUE(testing::write_file(first, "x"));
    set_protected_dacl(first, "D:P(A;;FA;;;BA)(A;;FR;;;S-1-5-21-9-9-9-9)");
    const auto before = read_path_security(first);

    const WideString moved = to_wide("C:\\to\\file.txt");
    ASSERT_TRUE(MoveFileExW(first.c_str(), moved.c_str(), 0));
    EXPECT_EQ(read_path_security(moved), before);
    // A host-made file in the same place has what it would have inherited.
    const WideString plain = to_wide("C:\\from\\plain.txt");
    ASSERT_TRUE(testing::write_file(plain, "x"));
    const auto inherited = read_path_security(plain);
    std::ofstream(host("from/host.txt")) << "x";
    EXPECT_EQ(read_path_security(to_wide("C:\\from\\host.txt")), inherited);
    // An unprotected file that moves keeps what it had inherited, until its new folder's
    // entries are propagated again.
    ASSERT_TRUE(MoveFileExW(plain.c_str(), to_wide("C:\\to\\plain.txt").c_str(), 0));
    EXPECT_EQ(read_path_security(to_wide("C:\\to\\plain.txt")), inherited);

    ASSERT_TRUE(DeleteFileW(moved.c_str()));
    ASSERT_TRUE(testing::write_file(moved, "again"));
    EXPECT_TRUE(
        testing::entries_for(read_path_security(moved).entries, "S-1-5-21-9-9-9-9").empty());
}

TEST_F(SimulatedFileSecurity, NamesResolveWithoutRegardToCaseAndFinalPathsShowTheStoredCase) {
    ASSERT_TRUE(CreateDirectoryW(to_wide("C:\\Work").c_str(), nullptr));
    ASSERT_TRUE(CreateDirectoryW(to_wide("c:\\WORK\\Project").c_str(), nullptr));
    UniqueHandle file(CreateFileW(to_wide("C:\\work\\PROJECT\\Notes.txt").c_str(), GENERIC_WRITE, 0,
                                  nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr));
    ASSERT_TRUE(file.valid());
    const std::string expected = "\\\\?\\C:\\Work\\Project\\Notes.txt";
    const auto length = static_cast<DWORD>(expected.size());
    WCHAR buffer[64];
    EXPECT_EQ(GetFinalPathNameByHandleW(file.get(), buffer, 0, FILE_NAME_NORMALIZED), length + 1);
    EXPECT_EQ(GetFinalPathNameByHandleW(file.get(), buffer, length, 0), length + 1);
    ASSERT_EQ(GetFinalPathNameByHandleW(file.get(), buffer, length + 1, 0), length);
    EXPECT_EQ(narrow_lossy(WideView(buffer, length)), expected);
    EXPECT_EQ(buffer[length], WCHAR{0});

    // Two host names that differ only in case: every process picks the smaller one.
    std::filesystem::create_directories(host("dup"));
    std::filesystem::create_directories(host("Dup"));
    UniqueHandle either(CreateFileW(to_wide("C:\\DUP").c_str(), 0, 0, nullptr, OPEN_EXISTING,
                                    FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    ASSERT_TRUE(either.valid());
    ASSERT_GT(GetFinalPathNameByHandleW(either.get(), buffer, 64, 0), 0u);
    EXPECT_EQ(narrow_lossy(buffer), "\\\\?\\C:\\Dup");
}

TEST_F(SimulatedFileSecurity, LinksAndReparsePointsReportThemselvesAndTheirTags) {
    const WideString target = to_wide("C:\\target");
    ASSERT_TRUE(CreateDirectoryW(target.c_str(), nullptr));
    const struct Case {
        const char* name;
        DWORD tag;
    } cases[] = {{"C:\\junction", IO_REPARSE_TAG_MOUNT_POINT},
                 {"C:\\symbolic", IO_REPARSE_TAG_SYMLINK},
                 {"C:\\dedup", 0x80000013}};
    ASSERT_EQ(winsim::make_directory_junction(to_wide(cases[0].name), target), 0u);
    ASSERT_EQ(winsim::make_symbolic_link(to_wide(cases[1].name), target), 0u);
    ASSERT_TRUE(CreateDirectoryW(to_wide(cases[2].name).c_str(), nullptr));
    ASSERT_EQ(winsim::set_reparse_tag(to_wide(cases[2].name), cases[2].tag), 0u);
    for (const auto& c : cases) {
        const WideString name = to_wide(c.name);
        WIN32_FILE_ATTRIBUTE_DATA data{};
        ASSERT_TRUE(GetFileAttributesExW(name.c_str(), GetFileExInfoStandard, &data)) << c.name;
        EXPECT_EQ(data.dwFileAttributes, FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DIRECTORY);
        UniqueHandle itself(
            CreateFileW(name.c_str(), FILE_READ_ATTRIBUTES, 0, nullptr, OPEN_EXISTING,
                        FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_BACKUP_SEMANTICS, nullptr));
        FILE_ATTRIBUTE_TAG_INFO tag{};
        ASSERT_TRUE(
            GetFileInformationByHandleEx(itself.get(), FileAttributeTagInfo, &tag, sizeof tag));
        EXPECT_EQ(tag.ReparseTag, c.tag) << c.name;
    }
    // Without FILE_FLAG_OPEN_REPARSE_POINT a junction's handle is its target's.
    UniqueHandle followed(CreateFileW(to_wide(cases[0].name).c_str(), 0, 0, nullptr, OPEN_EXISTING,
                                      FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    FILE_ATTRIBUTE_TAG_INFO tag{};
    ASSERT_TRUE(
        GetFileInformationByHandleEx(followed.get(), FileAttributeTagInfo, &tag, sizeof tag));
    EXPECT_EQ(tag.FileAttributes, static_cast<DWORD>(FILE_ATTRIBUTE_DIRECTORY));
    EXPECT_FALSE(GetFileInformationByHandleEx(followed.get(), FileAttributeTagInfo, &tag, 4));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_BAD_LENGTH));
}

TEST_F(SimulatedFileSecurity, FileCallsCheckTheCallersAccessAsWindowsDoes) {
    const WideString locked = to_wide("C:\\locked");
    ASSERT_TRUE(CreateDirectoryW(locked.c_str(), nullptr));
    ASSERT_TRUE(testing::write_file(to_wide("C:\\locked\\kept.txt"), "kept"));
    set_protected_dacl(locked, "D:P(A;OICI;FA;;;BA)(A;OICI;0x1200a9;;;BU)");
    const std::string user = testing::member_token("Standard");
    testing::RunAs as(user);
    // At the drive's root, users may make folders but not files.
    EXPECT_TRUE(CreateDirectoryW(to_wide("C:\\mine").c_str(), nullptr));
    EXPECT_EQ(testing::open_error(to_wide("C:\\root.txt"), GENERIC_WRITE, CREATE_NEW),
              static_cast<DWORD>(ERROR_ACCESS_DENIED));
    // Read and execute: reading, yes; writing, deleting, renaming, adding, no.
    EXPECT_EQ(testing::read_file(to_wide("C:\\locked\\kept.txt")), "kept");
    EXPECT_EQ(testing::open_error(to_wide("C:\\locked\\kept.txt"), GENERIC_WRITE, OPEN_EXISTING),
              static_cast<DWORD>(ERROR_ACCESS_DENIED));
    EXPECT_EQ(testing::error_of(DeleteFileW(to_wide("C:\\locked\\kept.txt").c_str())),
              static_cast<DWORD>(ERROR_ACCESS_DENIED));
    EXPECT_EQ(testing::error_of(MoveFileExW(to_wide("C:\\locked\\kept.txt").c_str(),
                                            to_wide("C:\\mine\\kept.txt").c_str(), 0)),
              static_cast<DWORD>(ERROR_ACCESS_DENIED));
    EXPECT_EQ(testing::error_of(RemoveDirectoryW(locked.c_str())),
              static_cast<DWORD>(ERROR_ACCESS_DENIED));
    // Reading the list needs READ_CONTROL, writing it WRITE_DAC, which an owner always has.
    EXPECT_EQ(read_path_security(locked).error, 0u);
    WideString name = locked;
    EXPECT_EQ(SetNamedSecurityInfoW(name.data(), SE_FILE_OBJECT, DACL_SECURITY_INFORMATION, nullptr,
                                    nullptr, nullptr, nullptr),
              static_cast<DWORD>(ERROR_ACCESS_DENIED));
    set_protected_dacl(to_wide("C:\\mine"), "D:P");
    EXPECT_EQ(read_path_security(to_wide("C:\\mine")).entries.size(), 0u);
    EXPECT_EQ(testing::open_error(to_wide("C:\\mine\\no.txt"), GENERIC_WRITE, CREATE_NEW),
              static_cast<DWORD>(ERROR_ACCESS_DENIED));
}

// Each refusal comes before anything is read, written or allocated.
TEST_F(SimulatedFileSecurity, NamedSecurityCallsRefuseWhatWindowsRefuses) {
    ASSERT_TRUE(testing::write_file(to_wide("C:\\kept.txt"), "x"));
    WideString kept = to_wide("C:\\kept.txt");
    const auto before = read_path_security(kept);
    ASSERT_EQ(before.error, 0u);

    struct GetRow {
        const char* what;
        const WCHAR* name;
        SE_OBJECT_TYPE type;
        SECURITY_INFORMATION information;
        bool wants_descriptor;
        const char* fault;
        DWORD expected;
    };
    const WideString missing_file = to_wide("C:\\absent.txt");
    const WideString missing_folder = to_wide("C:\\absent\\file.txt");
    const GetRow get_rows[] = {
        {"no name", nullptr, SE_FILE_OBJECT, DACL_SECURITY_INFORMATION, true, nullptr,
         ERROR_INVALID_PARAMETER},
        {"not a file", kept.c_str(), SE_REGISTRY_KEY, DACL_SECURITY_INFORMATION, true, nullptr,
         ERROR_INVALID_PARAMETER},
        {"no descriptor", kept.c_str(), SE_FILE_OBJECT, DACL_SECURITY_INFORMATION, false, nullptr,
         ERROR_INVALID_PARAMETER},
        {"the SACL", kept.c_str(), SE_FILE_OBJECT, SACL_SECURITY_INFORMATION, true, nullptr,
         ERROR_PRIVILEGE_NOT_HELD},
        {"missing file", missing_file.c_str(), SE_FILE_OBJECT, DACL_SECURITY_INFORMATION, true,
         nullptr, ERROR_FILE_NOT_FOUND},
        {"missing folder", missing_folder.c_str(), SE_FILE_OBJECT, DACL_SECURITY_INFORMATION, true,
         nullptr, ERROR_PATH_NOT_FOUND},
        {"no memory", kept.c_str(), SE_FILE_OBJECT,
         OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION, true, "LocalAlloc",
         ERROR_NOT_ENOUGH_MEMORY},
    };
    for (const auto& row : get_rows) {
        SCOPED_TRACE(row.what);
        if (row.fault != nullptr)
            winsim::inject_fault(row.fault, ERROR_NOT_ENOUGH_MEMORY);
        PSID owner = reinterpret_cast<PSID>(1);
        PACL dacl = reinterpret_cast<PACL>(1);
        PSECURITY_DESCRIPTOR descriptor = reinterpret_cast<PSECURITY_DESCRIPTOR>(1);
        EXPECT_EQ(GetNamedSecurityInfoW(row.name, row.type, row.information, &owner, nullptr, &dacl,
                                        nullptr, row.wants_descriptor ? &descriptor : nullptr),
                  row.expected);
        EXPECT_EQ(owner, nullptr);
        EXPECT_EQ(dacl, nullptr);
        // A call that got as far as the object leaves no descriptor to free.
        if (row.wants_descriptor && row.expected != ERROR_INVALID_PARAMETER) {
            EXPECT_EQ(descriptor, nullptr);
        }
        EXPECT_EQ(winsim::pending_fault_count(), 0u);
    }

    PSID system = nullptr;
    ASSERT_TRUE(ConvertStringSidToSidW(WIDE("S-1-5-18"), &system));
    LocalPtr<void> system_owned(system);
    ACL malformed{};
    malformed.AclRevision = 0;
    malformed.AclSize = sizeof malformed;
    struct SetRow {
        const char* what;
        SECURITY_INFORMATION information;
        PSID owner;
        PACL dacl;
        DWORD expected;
    };
    const SetRow set_rows[] = {
        {"the SACL", SACL_SECURITY_INFORMATION, nullptr, nullptr, ERROR_PRIVILEGE_NOT_HELD},
        {"a malformed DACL", DACL_SECURITY_INFORMATION, nullptr, &malformed, ERROR_INVALID_ACL},
        {"no owner", OWNER_SECURITY_INFORMATION, nullptr, nullptr, ERROR_INVALID_SID},
        {"an owner the caller may not set", OWNER_SECURITY_INFORMATION, system, nullptr,
         ERROR_INVALID_OWNER},
    };
    for (const auto& row : set_rows) {
        SCOPED_TRACE(row.what);
        EXPECT_EQ(SetNamedSecurityInfoW(kept.data(), SE_FILE_OBJECT, row.information, row.owner,
                                        nullptr, row.dacl, nullptr),
                  row.expected);
        const auto after = read_path_security(kept);
        EXPECT_EQ(after.owner, before.owner);
        EXPECT_EQ(after.entries, before.entries);
    }
    EXPECT_EQ(SetNamedSecurityInfoW(nullptr, SE_FILE_OBJECT, DACL_SECURITY_INFORMATION, nullptr,
                                    nullptr, nullptr, nullptr),
              static_cast<DWORD>(ERROR_INVALID_PARAMETER));
    EXPECT_EQ(SetNamedSecurityInfoW(kept.data(), SE_KERNEL_OBJECT, DACL_SECURITY_INFORMATION,
                                    nullptr, nullptr, nullptr, nullptr),
              static_cast<DWORD>(ERROR_INVALID_PARAMETER));
}

TEST_F(SimulatedFileSecurity, NoChangeToTheMachineRunsWithoutItsLock) {
    const auto lock = std::filesystem::path(machine_) / ".lock";
    std::filesystem::remove(lock);
    std::filesystem::create_directory(lock);  // a lock file that cannot be opened
    EXPECT_EQ(CreateMutexW(nullptr, FALSE, WIDE("Local\\unlockable")), nullptr);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
    EXPECT_EQ(CreateJobObjectW(nullptr, nullptr), nullptr);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
    // The job that was not made leaves no watcher of this process behind.
    EXPECT_TRUE(testing::live_children().empty());
    // Account changes report the lock's error instead of a success that stored nothing.
    WideString user_name = to_wide("unlocked");
    USER_INFO_1 user{};
    user.usri1_name = user_name.data();
    user.usri1_priv = USER_PRIV_USER;
    WideString group_name = to_wide("Unlocked Group");
    LOCALGROUP_INFO_1 group{};
    group.lgrpi1_name = group_name.data();
    EXPECT_EQ(NetUserAdd(nullptr, 1, reinterpret_cast<LPBYTE>(&user), nullptr),
              static_cast<NET_API_STATUS>(ERROR_ACCESS_DENIED));
    EXPECT_EQ(NetLocalGroupAdd(nullptr, 1, reinterpret_cast<LPBYTE>(&group), nullptr),
              static_cast<NET_API_STATUS>(ERROR_ACCESS_DENIED));
    std::filesystem::remove(lock);
    UniqueHandle job(CreateJobObjectW(nullptr, nullptr));
    EXPECT_TRUE(job.valid());
    EXPECT_EQ(NetUserAdd(nullptr, 1, reinterpret_cast<LPBYTE>(&user), nullptr),
              static_cast<NET_API_STATUS>(NERR_Success));
    EXPECT_EQ(NetLocalGroupAdd(nullptr, 1, reinterpret_cast<LPBYTE>(&group), nullptr),
              static_cast<NET_API_STATUS>(NERR_Success));
}

TEST_F(SimulatedFileSecurity, CallsWithoutAProgramCallerYetTakeInjectedFaults) {
    ASSERT_TRUE(testing::write_file(to_wide("C:\\file.txt"), "x"));
    UniqueHandle file(CreateFileW(to_wide("C:\\file.txt").c_str(), GENERIC_READ, 0, nullptr,
                                  OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    WIN32_FILE_ATTRIBUTE_DATA data{};
    winsim::inject_fault("GetFileAttributesExW", 5);
    EXPECT_FALSE(
        GetFileAttributesExW(to_wide("C:\\file.txt").c_str(), GetFileExInfoStandard, &data));
    EXPECT_EQ(GetLastError(), 5u);
    WCHAR buffer[MAX_PATH];
    winsim::inject_fault("GetFinalPathNameByHandleW", 8);
    EXPECT_EQ(GetFinalPathNameByHandleW(file.get(), buffer, MAX_PATH, 0), 0u);
    EXPECT_EQ(GetLastError(), 8u);
}

}  // namespace
}  // namespace quarvel
