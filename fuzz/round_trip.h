#pragma once
// The round-trip property of a document type: what the reader accepted, the writer can write,
// and that text reads back as the same value and is written again as the same text. A reader
// that accepts what its writer cannot express, or a writer that loses or changes a field, fails
// it; a crash-only fuzzer would find neither.

#include <string>

#include "fuzz_check.h"

namespace quarvel::fuzz {

template <class Document, class Read, class Write>
void require_round_trip(const Document& parsed, Read read, Write write) {
    const auto written = write(parsed);
    require(written.has_value(), "an accepted document can be written");
    const auto read_back = read(*written);
    require(read_back.has_value(), "a written document is accepted");
    require(*read_back == parsed, "a written document reads back as the same value");
    const auto written_again = write(*read_back);
    require(written_again.has_value() && *written_again == *written,
            "a document read back is written as the same text");
}

// A reader's rejection of `document`: its description is well formed, and so is the failure the
// program makes of it by putting `prefix` in front.
template <class Prefix>
void require_rejection(const std::string& description, std::string_view document, Prefix prefix,
                       std::int32_t exit_code) {
    require_reader_description(description, document);
    require_printable_failure(formatted_failure("invalid_request", exit_code, prefix, description),
                              exit_code);
}

}  // namespace quarvel::fuzz
