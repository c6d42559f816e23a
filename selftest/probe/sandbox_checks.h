#pragma once
// The checks the self-test's copy makes from inside the sandbox, one family per file. Each
// tries what a hostile command would try and reports it as a check; nothing here fails the
// program itself, and whatever a check manages to create it removes again.

#include <cstdint>
#include <string_view>
#include <vector>

#include "platform/unique_resource.h"
#include "platform/wide_text.h"
#include "selftest/check_result.h"
#include "selftest/probe_request.h"

namespace quarvel::selftest {

// Creating, writing, reading and deleting where the policy allows it; writing and reading
// where it does not. `unique` keeps the names of this run's files apart from any other's.
std::vector<CheckResult> file_checks(const ProbeRequest& request, std::string_view unique);

// The command's own temporary folder (TEMP) and its profile's APPDATA.
std::vector<CheckResult> temporary_folder_checks(std::string_view unique);

// Opening the runner, the self-test and the other run's command with each right a hostile
// command wants.
std::vector<CheckResult> process_access_checks(const ProbeRequest& request);

// A child that is meant to outlive the command: the job must end it afterwards.
struct LingeringChild {
    UniqueHandle process;
    std::uint32_t process_id = 0;
    CheckResult started;
};
LingeringChild start_lingering_child(const ProbeRequest& request);
// Whether the child still runs now, as the command is about to exit.
CheckResult lingering_child_still_runs(const LingeringChild& child);
// A child asked to leave the command's job.
CheckResult breakaway_check(const ProbeRequest& request);

// The command's token. `group_only_read_allowed`: reading the readable root's secret, which
// only the sandbox group may read, succeeded.
std::vector<CheckResult> token_checks(const ProbeRequest& request, bool group_only_read_allowed);

std::vector<CheckResult> desktop_checks();
std::vector<CheckResult> registry_checks(const ProbeRequest& request, std::string_view unique);
std::vector<CheckResult> network_checks(const ProbeRequest& request);
std::vector<CheckResult> console_checks();

}  // namespace quarvel::selftest
