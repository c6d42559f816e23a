// Worker frames as the runner reads them: every body is one frame or a positioned description;
// an accepted frame round-trips through the worker's writer (keys that no variant knows are
// dropped on the way).

#include <cstddef>
#include <cstdint>

#include "fuzz_check.h"
#include "round_trip.h"
#include "windows/channel/worker_frame.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace quarvel;
    using namespace quarvel::fuzz;
    const auto frame = parse_worker_frame(as_text(data, size));
    if (!frame) {
        require_rejection(frame.error(), as_text(data, size),
                          "Invalid protected command message: ", exit_code::invalid_request);
        return 0;
    }
    require_round_trip(*frame, parse_worker_frame, write_worker_frame);
    return 0;
}
