// Whether a runtime directory stands apart from the workspace, on canonical paths alone.

#include <gtest/gtest.h>

#include "platform/wide_text.h"
#include "windows/runner/runtime_separation.h"

namespace quarvel {
namespace {

TEST(RuntimeSeparation, OnlyADirectoryBesideEveryLocationIsSeparate) {
    const std::vector<WideString> workspace = {to_wide(R"(\\?\C:\work\project)"),
                                               to_wide(R"(\\?\C:\tools)")};
    const struct {
        const char* runtime;
        bool separate;
    } rows[] = {
        {R"(\\?\C:\work\runtime)", true},
        {R"(\\?\C:\work\project-runtime)", true},  // shares a prefix of the text only
        {R"(\\?\D:\work\project)", true},
        {R"(\\?\C:\work\project)", false},
        {R"(\\?\c:\WORK\Project\)", false},
        {R"(\\?\C:\work\project\runtime)", false},
        {R"(\\?\C:\work)", false},
        {R"(\\?\C:\tools\bin)", false},
        {R"(\\?\C:\)", false},
        {R"(\\?\UNC\server\share)", false},
    };
    for (const auto& row : rows)
        EXPECT_EQ(is_separate_from_workspace(to_wide(row.runtime), workspace), row.separate)
            << row.runtime;
    EXPECT_FALSE(is_separate_from_workspace(to_wide(R"(\\?\C:\)"), {}));
    EXPECT_TRUE(is_separate_from_workspace(to_wide(R"(\\?\C:\runtime)"), {}));
}

}  // namespace
}  // namespace quarvel
