#pragma once
// Kernel objects that WaitForSingleObject can wait on implement this beside KernelObject.

#include <winsim/types.h>

namespace winsim {

class Waitable {
  public:
    virtual ~Waitable() = default;
    // WAIT_OBJECT_0 once signalled, WAIT_TIMEOUT when `milliseconds` (INFINITE: never) pass
    // first, or WAIT_FAILED with the last error set.
    virtual DWORD wait(DWORD milliseconds) = 0;
};

}  // namespace winsim
