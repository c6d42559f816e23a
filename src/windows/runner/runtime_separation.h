#pragma once
// The runtime directory gets an access list of its own that replaces whatever it had, and the
// command may only read there: placed on, inside or above a workspace location it would take
// away the user's own access list for good, or lock the command out of its own workspace. It
// must therefore be a directory apart from every location the policy grants.

#include <vector>

#include "platform/wide_text.h"

namespace quarvel {

// Whether the runtime directory, given by its canonical path, is separate from each of the
// canonical workspace locations: not a drive root, and neither equal to, inside nor above any
// of them. Paths are compared without regard to ASCII letter case; canonical paths name one
// directory by one spelling, so nothing else has to be folded.
bool is_separate_from_workspace(WideView runtime, const std::vector<WideString>& workspace);

}  // namespace quarvel
