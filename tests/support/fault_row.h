#pragma once
// One row of a failure table: the simulated call to break, how, and the failure it must cause.

#include <gtest/gtest.h>

#include <winsim/testing.h>

#include <cstdint>
#include <string>

#include "cli/failure.h"

namespace quarvel::testing {

struct FaultRow {
    const char* function;
    std::uint64_t nth;
    std::uint32_t value;
    winsim::FaultKind kind;
    const char* code;
    const char* message;  // the failure's message starts with this
};

inline void arm(const FaultRow& row) {
    winsim::inject_fault(row.function, row.value, row.nth, row.kind);
}

// Code and message of the failure the row describes; exit code 70 like every platform failure.
inline void expect_row_failure(const Failure& failure, const FaultRow& row) {
    const std::string where = std::string(row.function) + " #" + std::to_string(row.nth);
    EXPECT_EQ(failure.code, row.code) << where;
    EXPECT_EQ(failure.message.rfind(row.message, 0), 0u) << where << ": " << failure.message;
    EXPECT_EQ(failure.exit_code, 70) << where;
}

}  // namespace quarvel::testing
