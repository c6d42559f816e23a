#include "windows/runner/run_record_file.h"

#include "documents/run_record.h"
#include "platform/whole_file.h"
#include "platform/windows_path.h"

namespace quarvel {
namespace {

constexpr std::string_view kContext = "Could not record workspace grants";

Failure record_failure(std::uint32_t error) {
    return io_failure(kContext, error);
}

}  // namespace

WideString run_records_folder(WideView state_dir) {
    return join_path(state_dir, WIDE("runs"));
}

Result<RunRecordFile> RunRecordFile::create(WideView state_dir, std::string_view capability_sid) {
    const WideString folder = run_records_folder(state_dir);
    if (!CreateDirectoryW(folder.c_str(), nullptr)) {
        const auto error = static_cast<std::uint32_t>(GetLastError());
        if (error != ERROR_ALREADY_EXISTS)
            return std::unexpected(record_failure(error));
    }
    WideString path = join_path(folder, to_wide(std::string(capability_sid) + ".json"));
    // Readers are welcome; a writer, a deleter or a rename never while this run lives.
    UniqueHandle file(CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_NEW,
                                  FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file)
        return std::unexpected(record_failure(static_cast<std::uint32_t>(GetLastError())));
    RunRecordFile record(std::move(file), std::move(path));
    if (auto written = record.append(run_record_header(capability_sid)); !written) {
        record.remove();  // nothing granted yet: nothing to keep
        return std::unexpected(written.error());
    }
    return record;
}

Result<void> RunRecordFile::add_path(WideView canonical_path) {
    return append(run_record_path(canonical_path));
}

Result<void> RunRecordFile::add_temporary_directory(WideView directory) {
    return append(run_record_temporary_directory(directory));
}

Result<void> RunRecordFile::append(const std::expected<std::string, std::string>& line) {
    // A path that is not valid Unicode cannot be written down, so it must not be granted.
    if (!line)
        return std::unexpected(record_failure(ERROR_NO_UNICODE_TRANSLATION));
    if (auto written = write_to_file(file_.get(), *line); !written)
        return std::unexpected(record_failure(written.error()));
    if (!FlushFileBuffers(file_.get()))
        return std::unexpected(record_failure(static_cast<std::uint32_t>(GetLastError())));
    return {};
}

void RunRecordFile::remove() {
    if (!file_)
        return;
    file_.reset();
    (void)DeleteFileW(path_.c_str());
}

}  // namespace quarvel
