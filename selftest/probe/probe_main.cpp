#include "selftest/probe/probe_main.h"

#include <string>

#include "platform/whole_file.h"
#include "platform/win32.h"
#include "selftest/probe/sandbox_checks.h"
#include "windows/security/secure_random.h"

namespace quarvel::selftest {
namespace {

bool write_out(const std::string& text) {
    std::size_t done = 0;
    while (done < text.size()) {
        DWORD written = 0;
        if (!WriteFile(GetStdHandle(STD_OUTPUT_HANDLE), text.data() + done,
                       static_cast<DWORD>(text.size() - done), &written, nullptr) ||
            written == 0)
            return false;
        done += written;
    }
    return true;
}

void append(std::vector<CheckResult>& checks, std::vector<CheckResult> more) {
    checks.insert(checks.end(), std::make_move_iterator(more.begin()),
                  std::make_move_iterator(more.end()));
}

bool passed(const std::vector<CheckResult>& checks, std::string_view id) {
    for (const auto& check : checks)
        if (check.id == id)
            return check.verdict == Verdict::pass;
    return false;
}

}  // namespace

int run_probe(WideView request_path) {
    auto text = read_whole_file(request_path);
    if (!text)
        return 2;
    const auto document = nlohmann::json::parse(*text, nullptr, false);
    if (document.is_discarded())
        return 2;
    ProbeRequest request;
    try {
        request = probe_request_from_json(document);
    } catch (const std::exception&) {
        return 2;
    }
    auto random = secure_random_hex(8);
    const std::string unique = random ? *random : std::to_string(GetCurrentProcessId());

    // Started first, so that it has run for the whole of the command's life when it exits.
    LingeringChild child = start_lingering_child(request);
    std::vector<CheckResult> checks;
    append(checks, file_checks(request, unique));
    append(checks, temporary_folder_checks(unique));
    append(checks, process_access_checks(request));
    checks.push_back(std::move(child.started));
    checks.push_back(breakaway_check(request));
    append(checks, token_checks(request, passed(checks, "files.readable_secret.read")));
    append(checks, desktop_checks());
    append(checks, registry_checks(request, unique));
    append(checks, network_checks(request));
    append(checks, console_checks());
    checks.push_back(lingering_child_still_runs(child));

    nlohmann::json report = {{"checks", nlohmann::json::array()},
                             {"child_process_id", child.process_id}};
    for (const auto& check : checks)
        report["checks"].push_back(to_json(check));
    return write_out(report.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace) + "\n")
               ? 0
               : 4;
}

}  // namespace quarvel::selftest
