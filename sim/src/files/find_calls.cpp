// kernel32's directory listing: FindFirstFileW, FindNextFileW and FindClose.

#include <winsim/files.h>
#include <winsim/kernel.h>

#include <sys/stat.h>
#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "files/file_access.h"
#include "files/file_paths.h"
#include "files/file_security.h"
#include "files/file_times.h"
#include "files/reparse_points.h"
#include "machine/faults.h"
#include "machine/object.h"
#include "machine/wtf8.h"

namespace {

// The entries found by FindFirstFileW, handed out one at a time.
class FindObject : public winsim::KernelObject {
  public:
    explicit FindObject(std::vector<WIN32_FIND_DATAW> entries) : entries_(std::move(entries)) {}
    const char* type_name() const override { return "Find"; }

    bool next(WIN32_FIND_DATAW& data) {
        if (position_ == entries_.size())
            return false;
        data = entries_[position_++];
        return true;
    }

  private:
    std::vector<WIN32_FIND_DATAW> entries_;
    std::size_t position_ = 0;
};

bool same_unit(char16_t left, char16_t right) {
    return winsim::same_file_name(std::u16string_view(&left, 1), std::u16string_view(&right, 1));
}

// * matches any run of characters, ? any one character; everything else itself, as NTFS
// compares names.
bool matches(std::u16string_view name, std::u16string_view pattern) {
    if (pattern.empty())
        return name.empty();
    if (pattern.front() == u'*') {
        for (std::size_t skip = 0; skip <= name.size(); ++skip)
            if (matches(name.substr(skip), pattern.substr(1)))
                return true;
        return false;
    }
    if (name.empty())
        return false;
    if (pattern.front() != u'?' && !same_unit(name.front(), pattern.front()))
        return false;
    return matches(name.substr(1), pattern.substr(1));
}

std::u16string upper_cased(std::u16string_view name) {
    std::u16string upper(name);
    for (auto& unit : upper)
        for (char16_t candidate = u'A'; candidate <= u'Z'; ++candidate)
            if (unit == candidate + (u'a' - u'A'))
                unit = candidate;
    return upper;
}

// The entry's data as FindFirstFileW reports it, or nothing when it went meanwhile.
std::optional<WIN32_FIND_DATAW> entry_data(const std::string& host, std::u16string_view name) {
    const auto attributes = winsim::object_attributes(host);
    struct stat status {};
    if (!attributes || ::lstat(host.c_str(), &status) != 0)
        return std::nullopt;
    WIN32_FIND_DATAW data{};
    data.dwFileAttributes = attributes->attributes;
    if ((attributes->attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0)
        data.dwReserved0 = attributes->reparse_tag;
    winsim::set_times_and_size(data, status);
    const auto length = std::min<std::size_t>(name.size(), MAX_PATH - 1);
    std::copy_n(name.begin(), length, data.cFileName);
    return data;
}

}  // namespace

HANDLE FindFirstFileW(LPCWSTR file_name, LPWIN32_FIND_DATAW find_data) {
    if (auto injected = winsim::take_fault("FindFirstFileW")) {
        SetLastError(injected->value);
        return INVALID_HANDLE_VALUE;
    }
    if (file_name == nullptr || find_data == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return INVALID_HANDLE_VALUE;
    }
    const std::u16string_view path(file_name);
    const auto separator = path.find_last_of(u"\\/");
    const std::u16string_view pattern =
        separator == std::u16string_view::npos ? path : path.substr(separator + 1);
    std::u16string folder(separator == std::u16string_view::npos ? u"."
                                                                 : path.substr(0, separator));
    if (folder.empty() || folder.back() == u':')
        folder += u'\\';
    const auto host = winsim::host_path_for(folder);
    struct stat status {};
    if (!host || ::stat(host->c_str(), &status) != 0 || !S_ISDIR(status.st_mode)) {
        SetLastError(host ? static_cast<DWORD>(ERROR_PATH_NOT_FOUND) : host.error());
        return INVALID_HANDLE_VALUE;
    }
    const auto resolved = winsim::resolved_object_path(*host, false);
    if (!resolved) {
        SetLastError(ERROR_PATH_NOT_FOUND);
        return INVALID_HANDLE_VALUE;
    }
    if (const DWORD denied = winsim::check_file_access(*resolved, FILE_LIST_DIRECTORY)) {
        SetLastError(denied);
        return INVALID_HANDLE_VALUE;
    }

    std::vector<WIN32_FIND_DATAW> entries;
    if (winsim::parent_object(*resolved)) {
        for (const std::u16string_view dots : {u".", u".."})
            if (matches(dots, pattern))
                if (auto data = entry_data(*resolved, dots))
                    entries.push_back(*data);
    }
    std::vector<std::pair<std::u16string, std::string>> names;
    std::error_code unreadable;
    for (const auto& entry : std::filesystem::directory_iterator(*resolved, unreadable)) {
        const std::u16string name = winsim::utf16_from_wtf8(entry.path().filename().string());
        if (matches(name, pattern))
            names.emplace_back(name, entry.path().string());
    }
    std::sort(names.begin(), names.end(), [](const auto& left, const auto& right) {
        return upper_cased(left.first) < upper_cased(right.first);
    });
    for (const auto& [name, entry_host] : names)
        if (auto data = entry_data(entry_host, name))
            entries.push_back(*data);
    if (entries.empty()) {
        SetLastError(ERROR_FILE_NOT_FOUND);
        return INVALID_HANDLE_VALUE;
    }
    auto find = std::make_shared<FindObject>(std::move(entries));
    find->next(*find_data);
    return winsim::insert_handle(std::move(find));
}

BOOL FindNextFileW(HANDLE find, LPWIN32_FIND_DATAW find_data) {
    WINSIM_FAIL_IF_INJECTED("FindNextFileW");
    const auto object = winsim::object_as<FindObject>(find);
    if (!object)
        return winsim::fail(ERROR_INVALID_HANDLE);
    if (find_data == nullptr)
        return winsim::fail(ERROR_INVALID_PARAMETER);
    if (!object->next(*find_data))
        return winsim::fail(ERROR_NO_MORE_FILES);
    return TRUE;
}

BOOL FindClose(HANDLE find) {
    WINSIM_FAIL_IF_INJECTED("FindClose");
    if (!winsim::object_as<FindObject>(find) || !winsim::remove_handle(find))
        return winsim::fail(ERROR_INVALID_HANDLE);
    return TRUE;
}
