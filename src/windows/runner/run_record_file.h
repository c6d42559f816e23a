#pragma once
// A run's record in the state directory, runs\<capability SID>.json, held open for as long as
// the run lives. It is opened without delete sharing: Windows refuses every other open that asks
// for DELETE access, or that would share less, while this handle is open, and closes the handle
// when the process ends, however it ends. So a record that can be opened for deletion belongs to
// a run that is gone, and what it names is left over.

#include <string_view>

#include "cli/failure.h"
#include "platform/unique_resource.h"
#include "platform/wide_text.h"

namespace quarvel {

// The folder of the records inside the state directory.
WideString run_records_folder(WideView state_dir);

class RunRecordFile {
  public:
    // Makes the folder when it is missing and creates the record with its first line; no
    // record of that name may exist. Failure: io_error "Could not record workspace grants".
    static Result<RunRecordFile> create(WideView state_dir, std::string_view capability_sid);

    // Each writes its line and flushes it before it returns, so that the record names the
    // location before the location carries anything (same failure as create).
    Result<void> add_path(WideView canonical_path);
    Result<void> add_temporary_directory(WideView directory);

    // The last step of a release that left nothing behind: closes and deletes the record. A
    // record that cannot be deleted names only what is already gone; the next recovery deletes it.
    void remove();

  private:
    RunRecordFile(UniqueHandle file, WideString path)
        : file_(std::move(file)), path_(std::move(path)) {}
    Result<void> append(const std::expected<std::string, std::string>& line);

    UniqueHandle file_;
    WideString path_;
};

}  // namespace quarvel
