#pragma once
// What the file calls answer for the cases the program depends on (existing and missing names,
// a missing folder, a directory in the way, a read-only file, sharing between open handles and
// the deletions that wait for them), checked against whichever
// kernel32 the test binary links: the simulated host's in the host lane, Wine's in the Wine
// lane, so the two are held to the same answers. Header-only, for both test binaries.

#include <gtest/gtest.h>

#include <set>
#include <string>
#include <vector>

#include "platform/unique_resource.h"
#include "platform/wide_text.h"
#include "platform/win32.h"
#include "windows/security/secure_random.h"

namespace quarvel::testing {

// A fresh directory under Z:\tmp (the host's /tmp in both lanes), emptied and removed at the
// end. Only names made through it are cleaned up.
class ScratchDirectory {
  public:
    ScratchDirectory() {
        const auto suffix = secure_random_hex(8);
        path_ = to_wide("Z:\\tmp\\quarvel-files-" + suffix.value_or("fixed"));
        EXPECT_TRUE(CreateDirectoryW(path_.c_str(), nullptr)) << GetLastError();
    }
    ~ScratchDirectory() {
        for (auto it = names_.rbegin(); it != names_.rend(); ++it) {
            SetFileAttributesW(it->c_str(), FILE_ATTRIBUTE_NORMAL);
            if (!DeleteFileW(it->c_str()))
                RemoveDirectoryW(it->c_str());
        }
        RemoveDirectoryW(path_.c_str());
    }
    ScratchDirectory(const ScratchDirectory&) = delete;
    ScratchDirectory& operator=(const ScratchDirectory&) = delete;

    const WideString& path() const { return path_; }

    // A name inside, remembered for cleaning up (whether or not it comes to exist).
    WideString name(std::string_view relative) {
        names_.push_back(path_ + WIDE("\\") + to_wide(relative));
        return names_.back();
    }

  private:
    WideString path_;
    std::vector<WideString> names_;
};

inline bool write_file(const WideString& path, std::string_view bytes, DWORD attributes = 0) {
    UniqueHandle file(CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                  attributes == 0 ? FILE_ATTRIBUTE_NORMAL : attributes, nullptr));
    if (!file)
        return false;
    DWORD written = 0;
    return WriteFile(file.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written,
                     nullptr) &&
           written == bytes.size();
}

inline std::string read_file(const WideString& path) {
    UniqueHandle file(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                  OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file)
        return "<cannot open: " + std::to_string(GetLastError()) + ">";
    std::string contents;
    char chunk[4096];
    DWORD got = 0;
    while (ReadFile(file.get(), chunk, sizeof chunk, &got, nullptr) && got > 0)
        contents.append(chunk, got);
    return contents;
}

// The last error of a failed call, or 0 when it succeeded.
inline DWORD error_of(BOOL succeeded) {
    return succeeded ? 0 : GetLastError();
}

inline DWORD open_error(const WideString& path, DWORD access, DWORD disposition,
                        DWORD flags = FILE_ATTRIBUTE_NORMAL) {
    UniqueHandle file(
        CreateFileW(path.c_str(), access, FILE_SHARE_READ, nullptr, disposition, flags, nullptr));
    return file ? 0 : GetLastError();
}

inline void expect_directory_creation_results() {
    ScratchDirectory scratch;
    const auto made = scratch.name("made");
    EXPECT_EQ(error_of(CreateDirectoryW(made.c_str(), nullptr)), 0u);
    EXPECT_EQ(error_of(CreateDirectoryW(made.c_str(), nullptr)),
              static_cast<DWORD>(ERROR_ALREADY_EXISTS));
    EXPECT_EQ(error_of(CreateDirectoryW(scratch.name("no\\child").c_str(), nullptr)),
              static_cast<DWORD>(ERROR_PATH_NOT_FOUND));
    const auto file = scratch.name("file");
    ASSERT_TRUE(write_file(file, "x"));
    EXPECT_EQ(error_of(CreateDirectoryW(file.c_str(), nullptr)),
              static_cast<DWORD>(ERROR_ALREADY_EXISTS));
    EXPECT_EQ(error_of(CreateDirectoryW(scratch.name("file\\child").c_str(), nullptr)),
              static_cast<DWORD>(ERROR_PATH_NOT_FOUND));
    EXPECT_EQ(GetFileAttributesW(made.c_str()) & FILE_ATTRIBUTE_DIRECTORY,
              static_cast<DWORD>(FILE_ATTRIBUTE_DIRECTORY));
}

inline void expect_file_open_results() {
    ScratchDirectory scratch;
    const auto file = scratch.name("file.txt");
    EXPECT_EQ(open_error(file, GENERIC_READ, OPEN_EXISTING),
              static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
    EXPECT_EQ(open_error(scratch.name("missing\\file.txt"), GENERIC_READ, OPEN_EXISTING),
              static_cast<DWORD>(ERROR_PATH_NOT_FOUND));
    EXPECT_EQ(open_error(scratch.name("missing\\new.txt"), GENERIC_WRITE, CREATE_ALWAYS),
              static_cast<DWORD>(ERROR_PATH_NOT_FOUND));
    ASSERT_TRUE(write_file(file, "first"));
    EXPECT_EQ(open_error(file, GENERIC_WRITE, CREATE_NEW), static_cast<DWORD>(ERROR_FILE_EXISTS));
    {
        UniqueHandle again(CreateFileW(file.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                       FILE_ATTRIBUTE_NORMAL, nullptr));
        ASSERT_TRUE(again.valid());
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ALREADY_EXISTS));
    }
    EXPECT_EQ(read_file(file), "");  // CREATE_ALWAYS truncated it
    EXPECT_EQ(open_error(scratch.path(), GENERIC_WRITE, OPEN_EXISTING),
              static_cast<DWORD>(ERROR_ACCESS_DENIED));
    EXPECT_EQ(open_error(scratch.path(), GENERIC_READ, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS),
              0u);
    // Windows resolves "." and ".." on the text, before looking at the disk.
    ASSERT_TRUE(write_file(file, "dots"));
    EXPECT_EQ(read_file(scratch.path() + to_wide("\\nothing\\..\\.\\file.txt")), "dots");
    // Forward slashes separate like backslashes.
    std::string slashed = narrow_lossy(file);
    for (auto& c : slashed)
        if (c == '\\')
            c = '/';
    EXPECT_EQ(read_file(to_wide(slashed)), "dots");
}

inline void expect_missing_name_results() {
    ScratchDirectory scratch;
    const auto missing = scratch.name("missing");
    EXPECT_EQ(GetFileAttributesW(missing.c_str()), INVALID_FILE_ATTRIBUTES);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
    EXPECT_EQ(GetFileAttributesW(scratch.name("missing\\deeper").c_str()), INVALID_FILE_ATTRIBUTES);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_PATH_NOT_FOUND));
    EXPECT_EQ(error_of(DeleteFileW(missing.c_str())), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
    EXPECT_EQ(error_of(DeleteFileW(scratch.path().c_str())),
              static_cast<DWORD>(ERROR_ACCESS_DENIED));
    const auto file = scratch.name("file");
    ASSERT_TRUE(write_file(file, "x"));
    EXPECT_EQ(error_of(MoveFileExW(missing.c_str(), file.c_str(), MOVEFILE_REPLACE_EXISTING)),
              static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
    EXPECT_EQ(error_of(MoveFileExW(file.c_str(), scratch.name("missing\\target").c_str(),
                                   MOVEFILE_REPLACE_EXISTING)),
              static_cast<DWORD>(ERROR_PATH_NOT_FOUND));
}

inline void expect_rename_results() {
    ScratchDirectory scratch;
    const auto source = scratch.name("source");
    const auto target = scratch.name("target");
    const auto directory = scratch.name("directory");
    ASSERT_TRUE(write_file(source, "new"));
    ASSERT_TRUE(write_file(target, "old"));
    ASSERT_TRUE(CreateDirectoryW(directory.c_str(), nullptr));
    EXPECT_EQ(error_of(MoveFileExW(source.c_str(), target.c_str(), 0)),
              static_cast<DWORD>(ERROR_ALREADY_EXISTS));
    EXPECT_EQ(error_of(MoveFileExW(source.c_str(), directory.c_str(), MOVEFILE_REPLACE_EXISTING)),
              static_cast<DWORD>(ERROR_ACCESS_DENIED));
    EXPECT_EQ(error_of(MoveFileExW(source.c_str(), target.c_str(), MOVEFILE_REPLACE_EXISTING)), 0u);
    EXPECT_EQ(read_file(target), "new");
    EXPECT_EQ(GetFileAttributesW(source.c_str()), INVALID_FILE_ATTRIBUTES);
}

inline void expect_read_only_results() {
    ScratchDirectory scratch;
    const auto locked = scratch.name("locked");
    const auto source = scratch.name("source");
    ASSERT_TRUE(write_file(locked, "kept", FILE_ATTRIBUTE_READONLY));
    ASSERT_TRUE(write_file(source, "new"));
    EXPECT_EQ(GetFileAttributesW(locked.c_str()) & FILE_ATTRIBUTE_READONLY,
              static_cast<DWORD>(FILE_ATTRIBUTE_READONLY));
    EXPECT_EQ(open_error(locked, GENERIC_WRITE, OPEN_EXISTING),
              static_cast<DWORD>(ERROR_ACCESS_DENIED));
    EXPECT_EQ(open_error(locked, GENERIC_WRITE, CREATE_ALWAYS),
              static_cast<DWORD>(ERROR_ACCESS_DENIED));
    EXPECT_EQ(read_file(locked), "kept");
    EXPECT_EQ(error_of(MoveFileExW(source.c_str(), locked.c_str(), MOVEFILE_REPLACE_EXISTING)),
              static_cast<DWORD>(ERROR_ACCESS_DENIED));
    EXPECT_EQ(error_of(DeleteFileW(locked.c_str())), static_cast<DWORD>(ERROR_ACCESS_DENIED));
    EXPECT_EQ(read_file(locked), "kept");

    EXPECT_EQ(error_of(SetFileAttributesW(locked.c_str(), FILE_ATTRIBUTE_NORMAL)), 0u);
    EXPECT_EQ(GetFileAttributesW(locked.c_str()) & FILE_ATTRIBUTE_READONLY, 0u);
    EXPECT_EQ(error_of(DeleteFileW(locked.c_str())), 0u);
    EXPECT_EQ(error_of(MoveFileExW(source.c_str(), locked.c_str(), MOVEFILE_REPLACE_EXISTING)), 0u);
    EXPECT_EQ(read_file(locked), "new");
}

// The names FindFirstFileW and FindNextFileW list for a pattern, or the error of the first call.
struct Listing {
    DWORD error = 0;
    std::set<std::string> names;
};

inline Listing list_names(const WideString& pattern) {
    Listing listing;
    WIN32_FIND_DATAW found{};
    const HANDLE find = FindFirstFileW(pattern.c_str(), &found);
    if (find == INVALID_HANDLE_VALUE) {
        listing.error = GetLastError();
        return listing;
    }
    do
        listing.names.insert(narrow_lossy(found.cFileName));
    while (FindNextFileW(find, &found));
    listing.error = GetLastError();  // ERROR_NO_MORE_FILES after the last name
    EXPECT_TRUE(FindClose(find));
    return listing;
}

inline void expect_listing_results() {
    ScratchDirectory scratch;
    ASSERT_TRUE(write_file(scratch.name("a.txt"), "a"));
    ASSERT_TRUE(write_file(scratch.name("B.TXT"), "b"));
    ASSERT_TRUE(CreateDirectoryW(scratch.name("sub").c_str(), nullptr));
    const auto in = [&](const char* pattern) { return scratch.path() + to_wide(pattern); };
    const struct {
        const char* pattern;
        DWORD error;
        std::set<std::string> names;
    } rows[] = {
        {"\\*", ERROR_NO_MORE_FILES, {".", "..", "a.txt", "B.TXT", "sub"}},
        {"\\*.txt", ERROR_NO_MORE_FILES, {"a.txt", "B.TXT"}},
        {"\\?.TXT", ERROR_NO_MORE_FILES, {"a.txt", "B.TXT"}},
        {"\\sub", ERROR_NO_MORE_FILES, {"sub"}},
        {"\\nothing*", ERROR_FILE_NOT_FOUND, {}},
        {"\\missing\\*", ERROR_PATH_NOT_FOUND, {}},
    };
    for (const auto& row : rows) {
        const auto listing = list_names(in(row.pattern));
        EXPECT_EQ(listing.error, row.error) << row.pattern;
        EXPECT_EQ(listing.names, row.names) << row.pattern;
    }
    UniqueHandle file(CreateFileW(in("\\a.txt").c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                  OPEN_EXISTING, 0, nullptr));
    WIN32_FIND_DATAW found{};
    EXPECT_EQ(error_of(FindNextFileW(file.get(), &found)),
              static_cast<DWORD>(ERROR_INVALID_HANDLE));
}

inline HANDLE open_shared(const WideString& path, DWORD access, DWORD share, DWORD flags = 0) {
    return CreateFileW(path.c_str(), access, share, nullptr, OPEN_EXISTING,
                       flags == 0 ? FILE_ATTRIBUTE_NORMAL : flags, nullptr);
}

constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

// A second open while a first is open: refused with ERROR_SHARING_VIOLATION when it asks for
// reading, writing or deleting that the first does not share, or does not share what the first
// uses; an open for attributes alone takes no part, either way.
inline void expect_sharing_results() {
    ScratchDirectory scratch;
    const auto file = scratch.name("shared.txt");
    ASSERT_TRUE(write_file(file, "x"));
    constexpr DWORD kRead = GENERIC_READ;
    constexpr DWORD kWrite = GENERIC_WRITE;
    constexpr DWORD kAttributes = FILE_READ_ATTRIBUTES;
    constexpr DWORD kShareRead = FILE_SHARE_READ;
    constexpr DWORD kShareReadWrite = FILE_SHARE_READ | FILE_SHARE_WRITE;
    constexpr DWORD kViolation = ERROR_SHARING_VIOLATION;
    const struct Row {
        DWORD first_access, first_share, second_access, second_share, expected;
    } rows[] = {
        {kRead, kShareRead, kRead, kShareRead, 0},
        {kRead, kShareRead, kWrite, kShareAll, kViolation},
        {kRead, kShareAll, kRead, FILE_SHARE_WRITE, kViolation},
        {kWrite, kShareRead, kRead, kShareRead, kViolation},
        {kWrite, kShareRead, kRead, kShareReadWrite, 0},
        {kRead, 0, kAttributes, 0, 0},
        {kAttributes, 0, kWrite, 0, 0},
        {DELETE, kShareAll, kRead, kShareReadWrite, kViolation},
        {kRead, kShareReadWrite, DELETE, kShareAll, kViolation},
        {kRead, kShareAll, DELETE, kShareAll, 0},
    };
    for (const auto& row : rows) {
        UniqueHandle first(open_shared(file, row.first_access, row.first_share));
        ASSERT_TRUE(first.valid()) << GetLastError();
        UniqueHandle second(open_shared(file, row.second_access, row.second_share));
        EXPECT_EQ(second ? 0u : GetLastError(), row.expected)
            << std::hex << row.first_access << "/" << row.first_share << " then "
            << row.second_access << "/" << row.second_share;
    }
}

// Deleting and renaming open for DELETE, sharing everything: a handle that does not share
// deleting refuses both, for a file and for a directory; a replaced target must not be open.
inline void expect_delete_and_rename_sharing_results() {
    ScratchDirectory scratch;
    const auto file = scratch.name("file");
    const auto renamed = scratch.name("renamed");
    const auto directory = scratch.name("directory");
    const auto moved = scratch.name("moved");
    ASSERT_TRUE(write_file(file, "x"));
    ASSERT_TRUE(CreateDirectoryW(directory.c_str(), nullptr));
    constexpr DWORD kViolation = ERROR_SHARING_VIOLATION;
    {
        UniqueHandle held(open_shared(file, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE));
        ASSERT_TRUE(held.valid());
        EXPECT_EQ(error_of(DeleteFileW(file.c_str())), kViolation);
        EXPECT_EQ(error_of(MoveFileExW(file.c_str(), renamed.c_str(), 0)), kViolation);
    }
    {
        UniqueHandle held(open_shared(directory, FILE_LIST_DIRECTORY,
                                      FILE_SHARE_READ | FILE_SHARE_WRITE,
                                      FILE_FLAG_BACKUP_SEMANTICS));
        ASSERT_TRUE(held.valid());
        EXPECT_EQ(error_of(RemoveDirectoryW(directory.c_str())), kViolation);
        EXPECT_EQ(error_of(MoveFileExW(directory.c_str(), moved.c_str(), 0)), kViolation);
    }
    {
        // Opened for attributes alone, it holds nothing back.
        UniqueHandle held(open_shared(file, FILE_READ_ATTRIBUTES, 0));
        ASSERT_TRUE(held.valid());
        EXPECT_EQ(error_of(MoveFileExW(file.c_str(), renamed.c_str(), 0)), 0u);
    }
    EXPECT_EQ(error_of(MoveFileExW(directory.c_str(), moved.c_str(), 0)), 0u);
    ASSERT_TRUE(write_file(file, "new"));
    {
        UniqueHandle target(open_shared(renamed, GENERIC_READ, kShareAll));
        ASSERT_TRUE(target.valid());
        EXPECT_EQ(error_of(MoveFileExW(file.c_str(), renamed.c_str(), MOVEFILE_REPLACE_EXISTING)),
                  static_cast<DWORD>(ERROR_ACCESS_DENIED));
    }
    EXPECT_EQ(error_of(MoveFileExW(file.c_str(), renamed.c_str(), MOVEFILE_REPLACE_EXISTING)), 0u);
    EXPECT_EQ(read_file(renamed), "new");
}

// A deletion asked for while handles that share deleting are open waits for the last of them.
// FILE_FLAG_DELETE_ON_CLOSE asks for it as its handle closes, FileDispositionInfo at once. That
// the name cannot be opened meanwhile is checked on the host lane only: Wine 8 lets it be.
inline void expect_delete_on_close_results() {
    ScratchDirectory scratch;
    const auto file = scratch.name("file");
    ASSERT_TRUE(write_file(file, "x"));
    {
        UniqueHandle deleting(
            open_shared(file, GENERIC_READ | DELETE, kShareAll, FILE_FLAG_DELETE_ON_CLOSE));
        ASSERT_TRUE(deleting.valid());
        EXPECT_EQ(open_error(file, GENERIC_READ, OPEN_EXISTING),
                  static_cast<DWORD>(ERROR_SHARING_VIOLATION));
        UniqueHandle other(open_shared(file, GENERIC_READ, kShareAll));
        ASSERT_TRUE(other.valid());
        deleting.reset();
        // The file waits for `other`; Windows refuses to open it meanwhile (checked on the host
        // lane only: Wine 8 lets it be opened).
        SetLastError(0);
        const DWORD attributes = GetFileAttributesW(file.c_str());
        EXPECT_TRUE(attributes != INVALID_FILE_ATTRIBUTES ||
                    GetLastError() != ERROR_FILE_NOT_FOUND);
    }
    EXPECT_EQ(GetFileAttributesW(file.c_str()), INVALID_FILE_ATTRIBUTES);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));

    ASSERT_TRUE(write_file(file, "x"));
    {
        UniqueHandle other(open_shared(file, GENERIC_READ, kShareAll));
        ASSERT_TRUE(other.valid());
        EXPECT_EQ(error_of(DeleteFileW(file.c_str())), 0u);
    }
    EXPECT_EQ(GetFileAttributesW(file.c_str()), INVALID_FILE_ATTRIBUTES);

    ASSERT_TRUE(write_file(file, "x"));
    FILE_DISPOSITION_INFO remove{};
    remove.DeleteFile = TRUE;
    {
        UniqueHandle reading(open_shared(file, GENERIC_READ, kShareAll));
        ASSERT_TRUE(reading.valid());
        EXPECT_EQ(error_of(SetFileInformationByHandle(reading.get(), FileDispositionInfo, &remove,
                                                      sizeof remove)),
                  static_cast<DWORD>(ERROR_ACCESS_DENIED));
        UniqueHandle deleting(open_shared(file, DELETE, kShareAll));
        ASSERT_TRUE(deleting.valid());
        EXPECT_EQ(error_of(SetFileInformationByHandle(deleting.get(), FileDispositionInfo, &remove,
                                                      sizeof remove)),
                  0u);
    }
    EXPECT_EQ(GetFileAttributesW(file.c_str()), INVALID_FILE_ATTRIBUTES);

    const auto directory = scratch.name("directory");
    ASSERT_TRUE(CreateDirectoryW(directory.c_str(), nullptr));
    ASSERT_TRUE(write_file(scratch.name("directory\\inside"), "x"));
    UniqueHandle folder(open_shared(directory, DELETE, kShareAll, FILE_FLAG_BACKUP_SEMANTICS));
    ASSERT_TRUE(folder.valid());
    EXPECT_EQ(error_of(SetFileInformationByHandle(folder.get(), FileDispositionInfo, &remove,
                                                  sizeof remove)),
              static_cast<DWORD>(ERROR_DIR_NOT_EMPTY));
}

}  // namespace quarvel::testing
