// The simulated host's system texts are Windows' own wording; Wine words some differently, so
// these exact texts are checked on the host lane only.

#include <gtest/gtest.h>

#include "cli/failure.h"

namespace quarvel {
namespace {

TEST(IoFailureText, UsesWindowsWordingForTheErrorsTheProgramReports) {
    EXPECT_EQ(io_failure("Could not read policy", 2).message,
              "Could not read policy: The system cannot find the file specified. (os error 2)");
    const struct {
        std::uint32_t error;
        const char* text;
    } cases[] = {
        {3, "The system cannot find the path specified."},
        {5, "Access is denied."},
        {32, "The process cannot access the file because it is being used by another process."},
        {87, "The parameter is incorrect."},
        {109, "The pipe has been ended."},
        {122, "The data area passed to a system call is too small."},
        {183, "Cannot create a file when that file already exists."},
        {231, "All pipe instances are busy."},
        {232, "The pipe is being closed."},
        {535, "There is a process on other end of the pipe."},
        {536, "Waiting for a process to open the other end of the pipe."},
        {1300, "Not all privileges or groups referenced are assigned to the caller."},
        {1332, "No mapping between account names and security IDs was done."},
        {1337, "The security ID structure is invalid."},
    };
    for (const auto& c : cases)
        EXPECT_EQ(system_error_text(c.error), c.text) << c.error;
}

TEST(IoFailureText, UnknownNumberStillGivesASentence) {
    EXPECT_EQ(system_error_text(987654), "Unknown error 987654");
}

}  // namespace
}  // namespace quarvel
