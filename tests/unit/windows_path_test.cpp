#include <gtest/gtest.h>

#include <optional>

#include "platform/windows_path.h"

namespace quarvel {
namespace {

TEST(WindowsPath, AbsoluteMeansAPrefixAndForADriveASeparatorAfterIt) {
    const struct {
        const char* path;
        bool absolute;
    } cases[] = {
        {"C:\\work", true},
        {"C:/work", true},
        {"c:\\", true},
        {"\\\\server\\share\\dir", true},
        {"\\\\server\\share", true},
        {"//server/share/dir", true},
        {"\\\\?\\C:\\work", true},
        {"\\\\?\\UNC\\server\\share", true},
        {"\\\\?\\Volume{x}\\dir", true},
        {"\\\\.\\device", true},
        {"C:work", false},
        {"C:", false},
        {"\\work", false},
        {"/work", false},
        {"work", false},
        {".\\work", false},
        {"..\\work", false},
        {"", false},
        {"\\\\server", false},
        {"\\\\server\\", false},
        {"1:\\work", false},
    };
    for (const auto& c : cases)
        EXPECT_EQ(is_absolute_windows_path(to_wide(c.path)), c.absolute) << c.path;
}

TEST(WindowsPath, ParentDropsTheLastComponentAndItsSeparators) {
    const struct {
        const char* path;
        std::optional<const char*> parent;
    } cases[] = {
        {"C:\\state\\status.json", "C:\\state"},
        {"C:\\state\\\\status.json", "C:\\state"},
        {"C:\\state\\sub\\", "C:\\state"},
        {"C:/state/status.json", "C:/state"},
        {"C:\\status.json", "C:\\"},
        {"status.json", ""},
        {"dir\\status.json", "dir"},
        {"C:status.json", "C:"},
        {"\\status.json", "\\"},
        {"\\\\server\\share\\status.json", "\\\\server\\share\\"},
        {"\\\\?\\C:\\dir\\status.json", "\\\\?\\C:\\dir"},
        // After the verbatim prefix only the backslash separates.
        {"\\\\?\\C:\\dir/status.json", "\\\\?\\C:\\"},
        {"", std::nullopt},
        {"C:\\", std::nullopt},
        {"C:", std::nullopt},
        {"\\", std::nullopt},
        {"\\\\server\\share\\", std::nullopt},
        {"\\\\server\\share", std::nullopt},
    };
    for (const auto& c : cases) {
        const auto parent = parent_directory(to_wide(c.path));
        ASSERT_EQ(parent.has_value(), c.parent.has_value()) << c.path;
        if (parent) {
            EXPECT_EQ(narrow_lossy(*parent), *c.parent) << c.path;
        }
    }
}

TEST(WindowsPath, JoinKeepsTheCurrentDirectoryAndDriveRelativeForms) {
    const WideString name = to_wide("n.tmp");
    EXPECT_EQ(narrow_lossy(join_path(to_wide(""), name)), "n.tmp");
    EXPECT_EQ(narrow_lossy(join_path(to_wide("C:"), name)), "C:n.tmp");
    EXPECT_EQ(narrow_lossy(join_path(to_wide("C:\\"), name)), "C:\\n.tmp");
    EXPECT_EQ(narrow_lossy(join_path(to_wide("C:\\dir"), name)), "C:\\dir\\n.tmp");
    EXPECT_EQ(narrow_lossy(join_path(to_wide("C:/dir/"), name)), "C:/dir/n.tmp");
}

}  // namespace
}  // namespace quarvel
