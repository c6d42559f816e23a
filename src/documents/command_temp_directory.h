#pragma once
// Where a run's command keeps its temporary files. The protected account's own temporary folder
// lies in its profile, which admits none of the command's restricting SIDs, so every write there
// is refused; each run therefore gives its command a directory of its own inside the runtime
// directory. Its name comes from the run's capability SID, which the worker request already
// carries, so runner and worker find the same directory without a field of its own.

#include <string_view>

#include "platform/wide_text.h"

namespace quarvel {

// The prefix of every such directory's name, after which the capability SID follows.
inline constexpr std::string_view kCommandTempPrefix = "quarvel-temp-";

// `runtime_dir` + "\quarvel-temp-" + the capability SID text.
WideString command_temp_directory(WideView runtime_dir, std::string_view capability_sid);

}  // namespace quarvel
