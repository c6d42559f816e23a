#pragma once
// Every failure the program may end with: code, exit code and the form of the message, as the
// failure tables give them. A fault sweep holds each failure it provokes against this list.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace quarvel::testing {

struct CatalogueEntry {
    std::string_view code;
    std::int32_t exit_code;
    std::string_view message;  // an ECMAScript regular expression for the whole message
    // Reported before the status file is known (the policy could not be read): nothing is
    // published.
    bool before_status = false;
};

// The entry whose code and message form the failure has, if any.
std::optional<CatalogueEntry> catalogued_failure(std::string_view code, std::string_view message);

// Whether the failure is one that publishing a status document reports.
bool is_status_publication_failure(std::string_view code, std::string_view message);

}  // namespace quarvel::testing
