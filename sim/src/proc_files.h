#pragma once
// Reading the kernel's per-process files under /proc.

#include <optional>
#include <string>

namespace winsim {

// The whole text of a file under /proc, or nothing when it cannot be opened or read. A process's
// files go with it: one that ends between the open and the read makes the read fail (ESRCH),
// which std::filebuf reports by throwing; read here, it is simply no text, as if the process had
// ended a moment earlier.
std::optional<std::string> read_proc_file(const std::string& path);

}  // namespace winsim
