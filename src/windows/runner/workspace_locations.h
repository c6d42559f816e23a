#pragma once
// The locations a run grants, as the policy names them: the writable list (cwd first, then the
// writable roots) and the readable list, each without the entries that repeat an earlier one.

#include <vector>

#include "documents/sandbox_policy.h"

namespace quarvel {

struct WorkspaceLocations {
    std::vector<WideString> writable;
    std::vector<WideString> readable;
};

// Two entries are the same when their texts are equal with ASCII letters compared without
// regard to case (no other folding, no normalisation); the first keeps its place. The readable
// list is folded among itself only: a location may be both readable and writable.
WorkspaceLocations workspace_locations(const SandboxPolicy& policy);

}  // namespace quarvel
