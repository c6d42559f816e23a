// Removing a directory tree: everything inside goes, links are removed as links and never
// followed, and what cannot be removed is counted instead of stopping the walk.

#include <gtest/gtest.h>

#include <winsim/testing.h>

#include <filesystem>

#include "platform/directory_tree.h"
#include "platform/wide_text.h"
#include "support/file_semantics.h"
#include "support/leak_checked_test.h"

namespace quarvel {
namespace {

class DirectoryTree : public testing::LeakCheckedTest {
  protected:
    static WideString at(const char* path) { return to_wide(path); }
    bool exists(const char* path) const {
        return GetFileAttributesW(at(path).c_str()) != INVALID_FILE_ATTRIBUTES;
    }
    static void make(const char* directory) {
        ASSERT_TRUE(CreateDirectoryW(at(directory).c_str(), nullptr));
    }
    static void file(const char* path, DWORD attributes = 0) {
        ASSERT_TRUE(testing::write_file(at(path), "x", attributes));
    }
};

TEST_F(DirectoryTree, EverythingInsideGoesButWhatLinksPointTo) {
    make("C:\\outside");
    file("C:\\outside\\keep.txt");
    make("C:\\tree");
    std::string nested = "C:\\tree";
    for (int depth = 0; depth < 60; ++depth) {
        nested += "\\d";
        make(nested.c_str());
    }
    file((nested + "\\deep.txt").c_str());
    file("C:\\tree\\read-only.txt", FILE_ATTRIBUTE_READONLY);
    ASSERT_EQ(winsim::make_directory_junction(u"C:\\tree\\junction", u"C:\\outside"), 0u);
    ASSERT_EQ(winsim::make_symbolic_link(u"C:\\tree\\link.txt", u"C:\\outside\\keep.txt"), 0u);

    EXPECT_EQ(remove_directory_tree(at("C:\\tree")), 0u);
    EXPECT_FALSE(exists("C:\\tree"));
    EXPECT_TRUE(exists("C:\\outside\\keep.txt"));

    // A root that is itself a link goes as a link.
    ASSERT_EQ(winsim::make_directory_junction(u"C:\\linked", u"C:\\outside"), 0u);
    EXPECT_EQ(remove_directory_tree(at("C:\\linked")), 0u);
    EXPECT_FALSE(exists("C:\\linked"));
    EXPECT_TRUE(exists("C:\\outside\\keep.txt"));
    EXPECT_EQ(remove_directory_tree(at("C:\\never-made")), 0u);
}

TEST_F(DirectoryTree, WhatCannotBeRemovedIsCountedAndTheRestStillGoes) {
    make("C:\\tree");
    make("C:\\tree\\a");
    file("C:\\tree\\a\\stuck.txt");
    make("C:\\tree\\b");
    file("C:\\tree\\b\\gone.txt");
    winsim::inject_fault("DeleteFileW", ERROR_SHARING_VIOLATION);
    // The file that stays, its folder and the root.
    EXPECT_EQ(remove_directory_tree(at("C:\\tree")), 3u);
    EXPECT_TRUE(exists("C:\\tree\\a\\stuck.txt"));
    EXPECT_FALSE(exists("C:\\tree\\b"));

    winsim::inject_fault("FindFirstFileW", ERROR_ACCESS_DENIED);
    EXPECT_NE(remove_directory_tree(at("C:\\tree")), 0u);  // unlisted, so it cannot go
    EXPECT_EQ(remove_directory_tree(at("C:\\tree")), 0u);
}

}  // namespace
}  // namespace quarvel
