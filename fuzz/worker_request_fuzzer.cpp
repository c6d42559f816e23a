// The worker request, the one message the worker reads from the runner: every body is one
// request or a positioned description; an accepted request round-trips through the runner's
// writer and its validation ends in success or a printable invalid_request.

#include <cstddef>
#include <cstdint>

#include "documents/worker_request.h"
#include "fuzz_check.h"
#include "round_trip.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace quarvel;
    using namespace quarvel::fuzz;
    const auto request = parse_worker_request(as_text(data, size));
    if (!request) {
        require_rejection(request.error(), as_text(data, size),
                          "Invalid protected command message: ", exit_code::invalid_request);
        return 0;
    }
    require_round_trip(*request, parse_worker_request, write_worker_request);
    if (const auto valid = validate_worker_request(*request); !valid) {
        require(valid.error().code == "invalid_request", "a request is refused as invalid");
        require_printable_failure(valid.error(), exit_code::invalid_request);
    }
    return 0;
}
