#pragma once
// The self-test's copy as the protected command ("__probe <request file>"): it makes every
// check from inside the sandbox and writes them, as one JSON document, to standard output,
// where the run relays them to the self-test.

#include "platform/wide_text.h"

namespace quarvel::selftest {

// The document: {"checks": [...], "child_process_id": n}. Returns the process exit code: 0
// once the document is written, 2 when the request cannot be read, 4 when standard output
// cannot be written.
int run_probe(WideView request_path);

}  // namespace quarvel::selftest
