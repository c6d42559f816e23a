#include "status/publish_status.h"

#include <atomic>

#include "platform/directory_tree.h"
#include "platform/file_attributes.h"
#include "platform/whole_file.h"
#include "platform/win32.h"
#include "platform/windows_path.h"

namespace quarvel {
namespace {

std::atomic<std::uint64_t> publications{0};

std::uint32_t last_error() {
    return static_cast<std::uint32_t>(GetLastError());
}

// Deletes the file even when it is read-only: Windows refuses to delete a read-only file, so
// the attribute is cleared first, and put back if the file stays after all.
std::expected<void, std::uint32_t> delete_even_read_only(const WideString& path, DWORD attributes) {
    const bool read_only = (attributes & FILE_ATTRIBUTE_READONLY) != 0;
    if (read_only) {
        const DWORD kept =
            attributes & (FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_ARCHIVE);
        if (!SetFileAttributesW(path.c_str(), kept != 0 ? kept : FILE_ATTRIBUTE_NORMAL))
            return std::unexpected(last_error());
    }
    if (DeleteFileW(path.c_str()))
        return {};
    const std::uint32_t error = last_error();
    if (read_only)
        SetFileAttributesW(path.c_str(), attributes);
    return std::unexpected(error);
}

Result<void> rename_into_place(const WideString& temporary, const WideString& target) {
    if (MoveFileExW(temporary.c_str(), target.c_str(), MOVEFILE_REPLACE_EXISTING))
        return {};
    const std::uint32_t rename_error = last_error();
    const auto attributes = attributes_following_links(target);
    if (!attributes)
        return std::unexpected(io_failure("Could not publish status file", rename_error));
    if (auto deleted = delete_even_read_only(target, *attributes); !deleted)
        return std::unexpected(io_failure("Could not replace status file", deleted.error()));
    if (!MoveFileExW(temporary.c_str(), target.c_str(), MOVEFILE_REPLACE_EXISTING))
        return std::unexpected(io_failure("Could not replace status file", last_error()));
    return {};
}

}  // namespace

std::string temporary_status_name(std::uint32_t process_id, std::uint64_t publication) {
    return ".quarvel-status-" + std::to_string(process_id) + "-" + std::to_string(publication) +
           ".tmp";
}

Result<void> publish_status(WideView path, const StatusReport& report) {
    const auto parent = parent_directory(path);
    if (!parent)
        return std::unexpected(fixed_failure(
            "invalid_request", "Status file has no parent directory.", exit_code::invalid_request));
    if (auto created = create_directory_tree(*parent); !created)
        return std::unexpected(io_failure("Could not create status directory", created.error()));

    const std::uint64_t publication = publications.fetch_add(1);
    const WideString temporary =
        join_path(*parent, to_wide(temporary_status_name(GetCurrentProcessId(), publication)));
    const auto document = status_json(report);
    if (!document)
        return std::unexpected(
            fixed_failure("status_serialization_failed", document.error(), exit_code::internal));
    if (auto written = write_whole_file(temporary, *document); !written)
        return std::unexpected(io_failure("Could not write status file", written.error()));
    return rename_into_place(temporary, WideString(path));
}

}  // namespace quarvel
