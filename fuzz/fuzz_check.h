#pragma once
// What the fuzz targets share: a property check that libFuzzer reports as a finding, and the
// checks every reader's error and every failure must pass whatever the input.

#include <cstddef>
#include <cstdint>
#include <source_location>
#include <string_view>

#include "cli/failure.h"

namespace quarvel::fuzz {

// Ends the run with `what` and the place of the check when `holds` is false. libFuzzer takes the
// abort for a crash and keeps the input that caused it.
void require(bool holds, std::string_view what,
             std::source_location where = std::source_location::current());

// A reader's description of a fault in `document`: not empty, UTF-8 (it is embedded in JSON
// error lines and status documents), and ending with the position of the fault, " at line L,
// column C", a place in the document: L at most its number of lines, C at most one past the
// characters of line L.
void require_reader_description(std::string_view description, std::string_view document);

// A failure the program can print: a snake_case code, a UTF-8 message, the expected exit code,
// and an error line that reads back as exactly that code and message.
void require_printable_failure(const Failure& failure, std::int32_t exit_code);

// The fuzz input as text.
inline std::string_view as_text(const std::uint8_t* data, std::size_t size) {
    return {reinterpret_cast<const char*>(data), size};
}

}  // namespace quarvel::fuzz
