#include "documents/command_temp_directory.h"

#include <string>

#include "platform/windows_path.h"

namespace quarvel {

WideString command_temp_directory(WideView runtime_dir, std::string_view capability_sid) {
    std::string name(kCommandTempPrefix);
    name += capability_sid;
    return join_path(runtime_dir, to_wide(name));
}

}  // namespace quarvel
