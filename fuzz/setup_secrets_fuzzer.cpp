// credentials.json: every input is one set of secrets or a positioned description, which
// loading reports after "Protection settings are invalid: "; accepted secrets round-trip
// through the writer setup uses.

#include <cstddef>
#include <cstdint>

#include "fuzz_check.h"
#include "round_trip.h"
#include "windows/setup/setup_files.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace quarvel;
    using namespace quarvel::fuzz;
    const auto secrets = parse_setup_secrets(as_text(data, size));
    if (!secrets) {
        require_rejection(secrets.error(), as_text(data, size),
                          "Protection settings are invalid: ", exit_code::setup_required);
        return 0;
    }
    require_round_trip(*secrets, parse_setup_secrets, setup_secrets_json);
    return 0;
}
