// setup.json: every input is one marker or a positioned description, which loading reports
// after "Protection settings are invalid: "; an accepted marker round-trips through the writer
// setup uses.

#include <cstddef>
#include <cstdint>

#include "fuzz_check.h"
#include "round_trip.h"
#include "windows/setup/setup_files.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace quarvel;
    using namespace quarvel::fuzz;
    const auto marker = parse_setup_marker(as_text(data, size));
    if (!marker) {
        require_rejection(marker.error(), as_text(data, size),
                          "Protection settings are invalid: ", exit_code::setup_required);
        return 0;
    }
    require_round_trip(*marker, parse_setup_marker, setup_marker_json);
    return 0;
}
