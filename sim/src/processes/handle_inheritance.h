#pragma once
// Which handles of this process are inheritable, and the handles this process inherited from
// its creator. Kernel objects are per process in the simulated host, so only objects backed by
// a descriptor (files, pipe ends) can cross into a child; the child finds them under the same
// handle values, as on Windows.

#include <winsim/types.h>

#include <memory>
#include <string>
#include <vector>

#include "machine/object.h"

namespace winsim {

// Marks or clears HANDLE_FLAG_INHERIT. A call that creates a handle from SECURITY_ATTRIBUTES
// with bInheritHandle TRUE marks it.
void set_inheritable(HANDLE handle, bool inheritable);
bool is_inheritable(HANDLE handle);

struct InheritedHandle {
    std::uintptr_t value = 0;
    std::shared_ptr<KernelObject> object;
};

// The open inheritable handles whose object can cross into a child (descriptor-backed).
struct InheritableDescriptor {
    std::uintptr_t value = 0;
    int fd = -1;
    std::string type;
};
std::vector<InheritableDescriptor> inheritable_descriptors();

// The environment entry that tells a child which descriptor holds which handle value.
inline constexpr const char* kInheritedHandlesVariable = "WINSIM_INHERITED_HANDLES";

// Read once from the environment (and removed from it) when the handle table is first used.
std::vector<InheritedHandle> adopt_inherited_handles();

// The standard handles a child received through STARTF_USESTDHANDLES were inheritable handles
// of its creator, and inherited handles stay inheritable: the child's standard handle in that
// slot (0, 1, 2) is inheritable when its creator listed the slot here ("0,1,2").
inline constexpr const char* kInheritedStandardVariable = "WINSIM_STANDARD_INHERITED";
bool standard_handle_inherited(int slot);

}  // namespace winsim
