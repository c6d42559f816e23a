#pragma once
// Where a path that the program gives in Windows form lives on the host: drive C:\ (and every
// drive but Z:) is a folder of the machine directory, Z:\ is the host's own root, as under
// Wine. Paths already in host form (starting with '/') and relative paths pass through.

#include <string>
#include <string_view>

namespace winsim {

std::string host_path_from_windows(std::u16string_view path);

}  // namespace winsim
