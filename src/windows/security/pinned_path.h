#pragma once
// A path held open while its access rules are read and written, so that the rules land on the
// object that was checked. The object is opened without following a final link and without
// delete sharing: for as long as the handle is open Windows refuses to delete or rename the
// object (an open for DELETE conflicts with a handle that does not share deleting) and to
// rename any folder above it (a folder that holds an open object cannot be renamed). The
// object's final path, read through the handle, has no link left in it, and every folder it
// names is such a folder: while the handle is open, that path names the checked object and
// nothing else.

#include <string_view>

#include "cli/failure.h"
#include "platform/unique_resource.h"
#include "platform/wide_text.h"

namespace quarvel {

class PinnedPath {
  public:
    PinnedPath(UniqueHandle handle, WideString final_path)
        : handle_(std::move(handle)), final_path_(std::move(final_path)) {}

    // \\?\C:\...: the name to give the security calls while this object lives.
    const WideString& final_path() const { return final_path_; }

  private:
    UniqueHandle handle_;
    WideString final_path_;
};

// The texts a caller reports a path's failures with.
struct PinMessages {
    std::string_view inspect_context;  // io_error context for a path that cannot be inspected
    std::string_view link_rejected;    // reparse_path_rejected message for a junction or link
};

// Opens the object at `path` (a final link itself) for reading its attributes and listing or
// reading it, sharing reading and writing but not deleting, and refuses a junction or symbolic
// link. Failures: io_error with the caller's context when the object cannot be opened, its tag
// read or its final path read; reparse_path_rejected (exit code 70) with the caller's message
// for a name-surrogate reparse point.
Result<PinnedPath> pin_path(WideView path, const PinMessages& messages);

}  // namespace quarvel
