#include <gtest/gtest.h>

#include "status/publish_status.h"
#include "status/status_report.h"

namespace quarvel {
namespace {

std::string json_of(const StatusReport& report) {
    return status_json(report).value();
}

TEST(StatusReport, EveryDocumentTheProgramWritesByteForByte) {
    constexpr std::string_view kReady = "Windows command protection is ready.";
    StatusReport running = success_report(Operation::run, StatusState::running, "running",
                                          "Command protection is active.");
    running.process_id = 4294967295u;
    StatusReport completed = success_report(Operation::run, StatusState::completed, "completed",
                                            "Protected command completed.");
    completed.exit_code = -1073741510;
    const struct {
        StatusReport report;
        std::string json;
    } cases[] = {
        {success_report(Operation::probe, StatusState::ready, "ready", std::string(kReady)),
         R"({"version":1,"operation":"probe","state":"ready","code":"ready",)"
         R"("message":"Windows command protection is ready.","setup_version":2})"},
        {success_report(Operation::setup, StatusState::ready, "ready", std::string(kReady)),
         R"({"version":1,"operation":"setup","state":"ready","code":"ready",)"
         R"("message":"Windows command protection is ready.","setup_version":2})"},
        {running,
         R"({"version":1,"operation":"run","state":"running","code":"running",)"
         R"("message":"Command protection is active.","setup_version":2,"process_id":4294967295})"},
        {completed,
         R"({"version":1,"operation":"run","state":"completed","code":"completed",)"
         R"("message":"Protected command completed.","setup_version":2,"exit_code":-1073741510})"},
        {failed_report(Operation::probe, fixed_failure("setup_required", "Run setup first.", 78)),
         R"({"version":1,"operation":"probe","state":"setup_required","code":"setup_required",)"
         R"("message":"Run setup first.","setup_version":2})"},
        {failed_report(Operation::setup, fixed_failure("sandbox_unavailable", "No.", 70)),
         R"({"version":1,"operation":"setup","state":"unavailable","code":"sandbox_unavailable",)"
         R"("message":"No.","setup_version":2})"},
        {failed_report(Operation::run, io_failure("Could not read policy", 2)),
         R"({"version":1,"operation":"run","state":"failed","code":"io_error","message":")" +
             io_failure("Could not read policy", 2).message + R"(","setup_version":2})"},
        {failed_report(Operation::run, fixed_failure("x", "Quote \" slash \\ line\n\x01 é.", 70)),
         R"({"version":1,"operation":"run","state":"failed","code":"x",)"
         R"("message":"Quote \" slash \\ line\n\u0001 é.","setup_version":2})"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(json_of(c.report), c.json);
}

TEST(StatusReport, OnlyTheExactCodesChooseASpecialState) {
    EXPECT_EQ(failed_report(Operation::probe, fixed_failure("Setup_required", "m", 78)).state,
              StatusState::failed);
    EXPECT_EQ(failed_report(Operation::probe, fixed_failure("setup_required_", "m", 78)).state,
              StatusState::failed);
    EXPECT_EQ(failed_report(Operation::probe, fixed_failure("io_error", "m", 74)).state,
              StatusState::failed);
}

TEST(StatusReport, TextThatIsNotUtf8CannotBeWritten) {
    const auto report = failed_report(Operation::run, fixed_failure("x", "bad \xFF byte", 70));
    EXPECT_FALSE(status_json(report).has_value());
}

TEST(StatusReport, TemporaryNamesCarryProcessIdAndPublicationNumber) {
    EXPECT_EQ(temporary_status_name(4242, 0), ".quarvel-status-4242-0.tmp");
    EXPECT_EQ(temporary_status_name(4242, 1), ".quarvel-status-4242-1.tmp");
    EXPECT_EQ(temporary_status_name(4294967295u, 18446744073709551615ull),
              ".quarvel-status-4294967295-18446744073709551615.tmp");
}

}  // namespace
}  // namespace quarvel
