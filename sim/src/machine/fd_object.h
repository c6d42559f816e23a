#pragma once
// A kernel object backed by a POSIX file descriptor: files, anonymous pipe ends and the
// standard handles all read and write through one.

#include "machine/object.h"

namespace winsim {

// The Windows error number closest to a POSIX errno value.
DWORD windows_error_from_errno(int error);

class FdObject : public KernelObject {
  public:
    // Takes ownership of `fd`: it is closed when the last handle to the object is.
    explicit FdObject(int fd, const char* type = "File") : fd_(fd), type_(type) {}
    ~FdObject() override;
    FdObject(const FdObject&) = delete;
    FdObject& operator=(const FdObject&) = delete;

    const char* type_name() const override { return type_; }
    int fd() const { return fd_; }

    DWORD read(void* buffer, DWORD size, DWORD& transferred) override;
    DWORD write(const void* buffer, DWORD size, DWORD& transferred) override;
    DWORD flush() override;

  private:
    int fd_;
    const char* type_;
};

}  // namespace winsim
