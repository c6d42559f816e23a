// `run` from the outside while another process replaces a writable root by a junction to a
// directory the run must never touch (a stand-in for a user's profile) and back, as a command
// whose writable area holds the root's folder could. Whenever the run looks, the root is either
// the real directory, which gets the grants, or the junction, which is refused; the junction's
// target never receives an entry.

#include <gtest/gtest.h>

#include <winsim/testing.h>

#include <sys/wait.h>
#include <unistd.h>

#include <map>
#include <regex>

#include "support/path_security.h"
#include "support/protected_machine.h"

namespace quarvel::testing {
namespace {

constexpr const char* kRoot = "C:\\work\\shared\\root";
constexpr const char* kAside = "C:\\work\\shared\\aside";
constexpr const char* kProfile = "C:\\work\\profile";

std::string error_line(const std::string& code, const std::string& message) {
    return R"({"code":")" + code + R"(","message":")" + message + "\"}\n";
}

// The root's own path as the run resolves it, in a JSON message.
const std::string kRefusedRoot =
    R"(Protected path cannot be a symbolic link: \\\\?\\C:\\work\\shared\\root.)";

class LinkSwapRun : public ProtectedMachine {
  protected:
    void SetUp() override {
        ProtectedMachine::SetUp();
        std::filesystem::create_directories(host(kRoot));
        std::filesystem::create_directories(host(kProfile));
        std::ofstream(host(kProfile) / "secret.txt") << "the user's own";
        prepare();
        write_policy(R"(,"writable_roots":["C:\\work\\shared\\root"])");
        profile_before_ = explicit_entries(kProfile);
        secret_before_ = explicit_entries(std::string(kProfile) + "\\secret.txt");
    }

    std::vector<AclEntry> explicit_entries(const std::string& windows_path) const {
        std::vector<AclEntry> found;
        for (const auto& entry : read_path_security(to_wide(windows_path)).entries)
            if ((entry.flags & INHERITED_ACE) == 0)
                found.push_back(entry);
        return found;
    }

    void expect_profile_untouched(const std::string& when) const {
        EXPECT_EQ(explicit_entries(kProfile), profile_before_) << when;
        EXPECT_EQ(explicit_entries(std::string(kProfile) + "\\secret.txt"), secret_before_) << when;
    }

    std::vector<AclEntry> profile_before_, secret_before_;
};

TEST_F(LinkSwapRun, ARootThatIsAJunctionWhenTheRunLooksIsRefusedAndItsTargetGetsNothing) {
    ASSERT_TRUE(MoveFileExW(to_wide(kRoot).c_str(), to_wide(kAside).c_str(), 0));
    ASSERT_EQ(winsim::make_directory_junction(to_wide(kRoot), to_wide(kProfile)), 0u);
    const auto outcome = run({"streams", "", "", "0"});
    EXPECT_EQ(outcome.exit_code, 70);
    EXPECT_EQ(outcome.standard_error, error_line("reparse_path_rejected", kRefusedRoot));
    EXPECT_EQ(status(), R"({"version":1,"operation":"run","state":"failed",)"
                        R"("code":"reparse_path_rejected","message":")" +
                            kRefusedRoot + R"(","setup_version":2})");
    expect_profile_untouched("junction in place before the run");
}

// Swaps until `stop` exists: the root aside, a junction in its place, then back. A step that
// is refused (a run holds the root, or the junction) is tried again. Ends with how many swaps
// went through.
[[noreturn]] void keep_swapping(const WideString& stop) {
    const WideString root = to_wide(kRoot), aside = to_wide(kAside);
    const WideString profile = to_wide(kProfile);
    int swaps = 0;
    while (GetFileAttributesW(stop.c_str()) == INVALID_FILE_ATTRIBUTES) {
        if (!MoveFileExW(root.c_str(), aside.c_str(), 0)) {
            Sleep(1);
            continue;
        }
        if (winsim::make_directory_junction(root, profile) == 0) {
            ++swaps;
            Sleep(2);
            // Refused while a run holds the junction itself open to look at it.
            while (!RemoveDirectoryW(root.c_str()))
                Sleep(1);
        }
        while (!MoveFileExW(aside.c_str(), root.c_str(), 0))
            Sleep(1);
        Sleep(2);
    }
    ::_exit(swaps > 255 ? 255 : swaps);
}

TEST_F(LinkSwapRun, AProcessSwappingTheRootForAJunctionNeverGetsTheRunsEntriesOntoItsTarget) {
    const WideString stop = to_wide("C:\\work\\stop-swapping");
    const pid_t swapper = ::fork();
    ASSERT_GE(swapper, 0);
    if (swapper == 0)
        keep_swapping(stop);

    // Every way a run can meet the root: the real directory; the junction (when it resolves
    // the root, when it grants or when it takes its grant back); nothing between the two.
    std::string refused = error_line("reparse_path_rejected", kRefusedRoot);
    refused.pop_back();
    const std::regex allowed(
        "0|70 " +
        std::regex_replace(refused, std::regex(R"re([\\^$.|?*+()\[\]{}])re"), R"re(\$&)re") +
        "|64 .*Writable location does not exist: C:.*shared.*root\\..*"
        "|74 .*Could not (resolve writable location|inspect protected path).*");
    const std::regex code(R"re(.*"code":"([a-z_]+)".*)re");
    std::map<std::string, int> seen;
    for (int round = 0; round < 12; ++round) {
        const auto outcome = run({"streams", "", "", "0"});
        std::string line = outcome.standard_error;
        if (!line.empty() && line.back() == '\n')
            line.pop_back();
        const std::string result =
            std::to_string(outcome.exit_code) + (outcome.exit_code == 0 ? "" : " " + line);
        EXPECT_TRUE(std::regex_match(result, allowed)) << result;
        ++seen[outcome.exit_code == 0 ? "completed" : std::regex_replace(line, code, "$1")];
        expect_profile_untouched("round " + std::to_string(round));
    }
    std::ofstream(host("C:\\work\\stop-swapping")) << "stop";
    int status = 0;
    ASSERT_EQ(::waitpid(swapper, &status, 0), swapper);
    ASSERT_TRUE(WIFEXITED(status));
    std::cout << "swaps " << WEXITSTATUS(status) << ";";
    for (const auto& [what, count] : seen)
        std::cout << " " << what << " " << count;
    std::cout << "\n";
    EXPECT_TRUE(std::filesystem::is_directory(host(kRoot)) &&
                !std::filesystem::is_symlink(host(kRoot)));
    expect_profile_untouched("after the swapping");
}

}  // namespace
}  // namespace quarvel::testing
