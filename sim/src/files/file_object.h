#pragma once
// The object behind a handle that CreateFileW opened on a file or directory: its descriptor,
// the rights the handle was granted, and its entry in the machine's sharing table
// (files/share_access.h), which ends when the last handle to the object closes, or with the
// process.

#include <winsim/security.h>
#include <winsim/types.h>

#include <memory>

#include "files/share_access.h"
#include "machine/fd_object.h"

namespace winsim {

class FileObject : public FdObject {
  public:
    FileObject(int fd, ACCESS_MASK granted, std::unique_ptr<ShareRecord> record)
        : FdObject(fd, "File"), granted_(granted), record_(std::move(record)) {}
    // Ends the sharing entry while the descriptor is still open, so that the last handle of a
    // file whose deletion is pending can find and remove it.
    ~FileObject() override;

    // The rights asked for, generic ones mapped for files.
    ACCESS_MASK granted() const { return granted_; }

  private:
    ACCESS_MASK granted_;
    std::unique_ptr<ShareRecord> record_;
};

}  // namespace winsim
