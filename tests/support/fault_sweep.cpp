#include "support/fault_sweep.h"

#include <cstdlib>
#include <fstream>
#include <set>
#include <sstream>

#include "platform/win32.h"
#include "support/failure_catalogue.h"
#include "support/text_lines.h"

namespace quarvel::testing {
namespace {

using nlohmann::json;

std::string function_of(std::string_view site) {
    return std::string(site.substr(0, site.find('@')));
}

// ---------------------------------------------------------------- what to inject
// A value a real system gives when the call fails: a Windows error, an NTSTATUS, an HRESULT or
// a NET_API_STATUS, as the call reports failures. The kind of object may refine it.
std::uint32_t failure_value(const std::string& site) {
    static const std::map<std::string, std::uint32_t> by_site = {
        {"ReadFile@Pipe", 109},   // ERROR_BROKEN_PIPE
        {"WriteFile@Pipe", 232},  // ERROR_NO_DATA: the pipe is being closed
        {"FlushFileBuffers@Pipe", 232},
        {"WriteFile@File", 112},  // ERROR_DISK_FULL
    };
    static const std::map<std::string, std::uint32_t> by_function = {
        {"BCryptGenRandom", 0xC0000001},   // STATUS_UNSUCCESSFUL
        {"CoCreateInstance", 0x80040154},  // REGDB_E_CLASSNOTREG
        {"CoInitializeEx", 0x80010106},    // RPC_E_CHANGED_MODE
        {"SetErrorInfo", 0x8007000E},      // E_OUTOFMEMORY
        {"ConnectNamedPipe", 109},
        {"ConvertSidToStringSidW", 8},                                   // ERROR_NOT_ENOUGH_MEMORY
        {"ConvertStringSecurityDescriptorToSecurityDescriptorW", 1336},  // ERROR_INVALID_ACL
        {"ConvertStringSidToSidW", 1337},                                // ERROR_INVALID_SID
        {"GetLengthSid", 1337},
        {"CopySid", 122},    // ERROR_INSUFFICIENT_BUFFER
        {"CloseHandle", 6},  // ERROR_INVALID_HANDLE
        {"CloseDesktop", 6},
        {"WaitForSingleObject", 6},
        {"GetExitCodeProcess", 6},
        {"SetHandleInformation", 6},
        {"GetUserObjectInformationW", 6},
        {"CommandLineToArgvW", 8},
        {"CreateJobObjectW", 8},
        {"CreatePipe", 8},
        {"LocalAlloc", 8},
        {"SetEntriesInAclW", 8},
        {"SysAllocStringLen", 8},
        {"GetModuleFileNameW", 8},
        {"CryptProtectData", 8},
        {"CryptUnprotectData", 13},        // ERROR_INVALID_DATA
        {"CreateNamedPipeW", 231},         // ERROR_PIPE_BUSY
        {"ReleaseMutex", 288},             // ERROR_NOT_OWNER
        {"GetEnvironmentVariableW", 203},  // ERROR_ENVVAR_NOT_FOUND
        {"GetSystemTimeAsFileTime", 0},    // 1601-01-01, before 1970
        {"InitializeSecurityDescriptor", 87},
        {"SetSecurityDescriptorDacl", 87},
        {"LogonUserW", 1326},  // ERROR_LOGON_FAILURE
        {"CreateProcessWithLogonW", 1326},
        {"LookupAccountNameW", 1332},  // ERROR_NONE_MAPPED
        {"LookupAccountSidW", 1332},
        {"LookupPrivilegeValueW", 1313},  // ERROR_NO_SUCH_PRIVILEGE
    };
    if (const auto found = by_site.find(site); found != by_site.end())
        return found->second;
    const std::string function = function_of(site);
    if (const auto found = by_function.find(function); found != by_function.end())
        return found->second;
    if (function.find("::") != std::string::npos)
        return 0x80070005;  // E_ACCESSDENIED from a COM method
    return 5;               // ERROR_ACCESS_DENIED, and the NET_API_STATUS of the same number
}

// The quirks of sim/README.md: a success with the odd result a caller must still check.
std::vector<std::uint32_t> quirk_values(const std::string& site) {
    const std::string function = function_of(site);
    static const std::map<std::string, std::vector<std::uint32_t>> quirks = {
        {"ReadFile", {0}},  // zero bytes
        {"WriteFile", {0}},
        {"OpenProcessToken", {6}},  // TRUE without a handle (the value is the last error)
        {"DuplicateToken", {6}},
        {"LogonUserW", {6}},
        {"CreateRestrictedToken", {6}},
        {"IsTokenRestricted", {0}},      // FALSE without an error
        {"AdjustTokenPrivileges", {0}},  // ERROR_NOT_ALL_ASSIGNED
        {"GetTokenInformation", {4}},    // reports 4 bytes written
        {"CreateJobObjectW", {0}},       // null without an error
        {"OpenProcess", {0}},
        {"CreateProcessW", {1, 2}},  // no handles at all; no thread handle
        {"CreateProcessAsUserW", {1, 2}},
        {"CreateProcessWithLogonW", {1, 2}},
        {"CoCreateInstance", {0}},  // S_OK with a null object
        {"INetFwPolicy2::get_Rules", {0}},
        {"INetFwRules::Item", {0}},
        {"GetNamedPipeClientProcessId", {4}},  // another process's id (4: System)
    };
    if (site == "WaitForSingleObject@Mutant")
        return {WAIT_ABANDONED, WAIT_TIMEOUT};
    if (function == "WaitForSingleObject")
        return {WAIT_TIMEOUT};
    if (function.ends_with("::QueryInterface"))
        return {0};
    const auto found = quirks.find(function);
    return found == quirks.end() ? std::vector<std::uint32_t>{} : found->second;
}

// ---------------------------------------------------------------- failures that may be ignored
struct Ignorable {
    std::string_view site;  // a function, or a function on one kind of object
    std::string_view reason;
    bool quirk_only = false;
    std::string_view scope;  // a role or an operation; "" for any
    bool loses_command_output = false;
    std::uint64_t nth = 0;  // only the nth call of the site; 0 for any
};

constexpr Ignorable kIgnorable[] = {
    {"CloseHandle",
     "a handle that cannot be closed is gone all the same; nothing is left to undo or report",
     false, "", false},
    {"CloseDesktop", "a desktop handle that cannot be closed is gone all the same", false, "",
     false},
    {"ReleaseMutex",
     "the lock's handle is closed right after; a lock its owner did not release is abandoned "
     "and taken over by the next holder",
     false, "", false},
    {"GetEnvironmentVariableW", "the trace switch reads as off: trace lines are left out", false,
     "", false},
    {"SetErrorInfo", "it only clears the error object of a lookup that was expected to fail", false,
     "", false},
    {"WriteFile@File",
     "the status document reaches standard output only after it was published, and trace lines "
     "may be lost: neither write changes the outcome",
     false, "", false},
    {"MoveFileExW",
     "a status document whose rename is refused replaces the old document by deleting it and "
     "renaming again",
     false, "", false},
    {"INetFwRules::Item",
     "the quirk is one of a successful lookup: the lookup of a rule that does not exist fails all "
     "the same, and setup adds the rule",
     true, "setup", false},
    {"LookupAccountSidW",
     "ERROR_NONE_MAPPED from the owner's lookup says no lookup can map the owner, as for a domain "
     "account whose domain cannot be reached: such an owner is accepted",
     false, "setup", false},
    {"CreateDirectoryW",
     "a directory that is already there needed no creating, whatever the refusal said", false, "",
     false},
    {"GetFileAttributesW",
     "it only asks whether an old settings file must be deleted before the new one is renamed "
     "into place; unanswered, the rename decides, and it refuses to replace a file",
     false, "setup", false},
    {"ReadFile@File",
     "no bytes is how a file read reports the end: on the read that meets the end it changes "
     "nothing",
     true, "", false},
    {"WaitForSingleObject@Mutant", "an abandoned lock is held all the same", true, "", false},
    {"GetTokenInformation",
     "the reported length of a successful query is checked only for the token's groups; the "
     "other classes describe their own size",
     true, "", false},
    {"ReadFile@Pipe", "a forwarding thread ends its stream quietly at a read that fails", false,
     "__worker", true},
    // The command's temporary directory is removed once nothing of the command runs; what
    // cannot be removed stays (a trace line says so) and the run's outcome does not change.
    {"FindFirstFileW", "the command's temporary directory may stay behind", false, "run", false},
    {"FindNextFileW", "the command's temporary directory may stay behind", false, "run", false},
    {"FindClose", "the command's temporary directory may stay behind", false, "run", false},
    {"RemoveDirectoryW", "the command's temporary directory may stay behind", false, "run", false},
    // The run's third acquisition of the access lock is the one its temporary directory is
    // removed under (the first grants, the second secures the runtime directory).
    {"CreateMutexW", "the command's temporary directory may stay behind", false, "run", false, 3},
    {"WaitForSingleObject@Mutant", "the command's temporary directory may stay behind", false,
     "run", false, 3},
    // A record whose run released everything names nothing left: when it cannot be deleted, the
    // next recovery deletes it.
    {"DeleteFileW", "the record of a run that released everything may stay behind", false, "run",
     false},
    // Setup takes back what runs that are gone left, when it can: without the access lock, or
    // without a listing of the records, that is left to the next run or setup.
    {"CreateMutexW", "recovery of runs that are gone is left to the next run or setup", false,
     "setup", false},
    {"WaitForSingleObject@Mutant",
     "recovery of runs that are gone is left to the next run or setup", false, "setup", false},
    {"FindFirstFileW", "recovery of runs that are gone is left to the next run or setup", false,
     "setup", false},
};

// The runner's accept loop polls the worker with a zero wait.
constexpr Ignorable kPoll = {"WaitForSingleObject@Process",
                             "a poll of the worker that fails counts as 'still running': the next "
                             "poll or the deadline decides",
                             false, "", false};

const Ignorable* ignorable(const Injection& injection, std::string_view scope) {
    if (injection.at.polling)
        return &kPoll;
    const bool quirk = injection.kind == winsim::FaultKind::quirk;
    for (const auto& entry : kIgnorable) {
        if (entry.site != injection.at.site && entry.site != injection.function())
            continue;
        if ((entry.quirk_only && !quirk) || (!entry.scope.empty() && entry.scope != scope))
            continue;
        if (entry.nth != 0 && (entry.nth != injection.at.nth || !injection.at.anchor.empty()))
            continue;
        return &entry;
    }
    return nullptr;
}

// ---------------------------------------------------------------- reading what was reported
bool is_trace_line(std::string_view line) {
    return line.starts_with("Quarvel native trace: ");
}

struct ErrorLine {
    std::string code;
    std::string message;
};

std::optional<ErrorLine> parse_error_line(const std::string& line) {
    const auto parsed = nlohmann::ordered_json::parse(line, nullptr, false);
    if (!parsed.is_object() || parsed.size() != 2 || !parsed.contains("code") ||
        !parsed.contains("message") || !parsed["code"].is_string() ||
        !parsed["message"].is_string() || parsed.begin().key() != "code")
        return std::nullopt;
    return ErrorLine{parsed["code"], parsed["message"]};
}

std::string state_of(std::string_view code) {
    if (code == "setup_required")
        return "setup_required";
    if (code == "sandbox_unavailable")
        return "unavailable";
    return "failed";
}

// The failed document for `failure`, member for member, in the order they are written.
nlohmann::ordered_json failed_document(const std::string& operation, const ErrorLine& failure) {
    nlohmann::ordered_json document;
    document["version"] = 1;
    document["operation"] = operation;
    document["state"] = state_of(failure.code);
    document["code"] = failure.code;
    document["message"] = failure.message;
    document["setup_version"] = 2;
    return document;
}

bool is_complete_status(const json& status) {
    if (!status.is_string())
        return false;
    const auto document = nlohmann::ordered_json::parse(status.get<std::string>(), nullptr, false);
    static const char* required[] = {"version", "operation", "state",
                                     "code",    "message",   "setup_version"};
    if (!document.is_object())
        return false;
    for (const char* key : required)
        if (!document.contains(key))
            return false;
    return true;
}

// What must hold whatever the outcome: nothing running, no job, no capability entry, nothing
// outstanding in the process that ran the operation.
std::vector<std::string> leftovers(const json& report) {
    std::vector<std::string> found;
    if (!report.value("left_processes", json::array()).empty())
        found.push_back("processes left running: " + report["left_processes"].dump());
    if (report.value("jobs", 0) != 0)
        found.push_back("jobs left open: " + std::to_string(report.value("jobs", 0)));
    if (!report.value("foreign_entries", json::array()).empty())
        found.push_back("capability entries left: " + report["foreign_entries"].dump());
    if (!report.value("leaks", json::object()).empty())
        found.push_back("not released: " + report["leaks"].dump());
    return found;
}

Verdict misbehaved(std::string note) {
    return {Verdict::Kind::misbehaved, std::move(note)};
}

// The success document with the command's exit code, for a run whose command lost its output
// and ended otherwise.
std::string with_exit_code(const std::string& document, int exit_code) {
    auto parsed = nlohmann::ordered_json::parse(document, nullptr, false);
    if (!parsed.is_object() || !parsed.contains("exit_code"))
        return document;
    parsed["exit_code"] = exit_code;
    return parsed.dump();
}

Verdict judge_success(const SweepExpectation& expected, const Injection& injection,
                      const std::string& scope, const json& report) {
    const int exit = report.value("exit_code", -1);
    const Ignorable* allowed = ignorable(injection, scope);
    if (allowed == nullptr)
        return misbehaved("ended with " + std::to_string(exit) +
                          " and no error line: the failure was swallowed");
    // A forwarding thread that stops reading closes its pipe: the command may die writing.
    const bool output_may_go = allowed->loses_command_output;
    if (exit != expected.success_exit && !output_may_go)
        return misbehaved("ended with " + std::to_string(exit) + " and no error line");
    if (report["status"] != with_exit_code(expected.success_status, exit))
        return misbehaved("succeeded with status " + report["status"].dump());
    const std::string out = report.value("stdout", "");
    const bool stdout_may_go =
        expected.operation != "run" ? allowed->site == "WriteFile@File" : output_may_go;
    if (out != expected.success_stdout && !(stdout_may_go && out.empty()))
        return misbehaved("succeeded with standard output " + json(out).dump());
    std::vector<std::string> other;
    for (const auto& line : lines_of(report.value("stderr", "")))
        if (!is_trace_line(line))
            other.push_back(line);
    const std::vector<std::string> wanted =
        expected.success_stderr_line.empty()
            ? std::vector<std::string>{}
            : std::vector<std::string>{expected.success_stderr_line};
    if (other != wanted && !(output_may_go && other.empty()))
        return misbehaved("succeeded with standard error " + report["stderr"].dump());
    return {Verdict::Kind::ignored, std::string(allowed->reason)};
}

Verdict judge_failure(const SweepExpectation& expected, const json& report) {
    std::vector<ErrorLine> errors;
    for (const auto& line : lines_of(report.value("stderr", "")))
        if (auto parsed = parse_error_line(line))
            errors.push_back(std::move(*parsed));
    const int exit = report.value("exit_code", -1);
    if (errors.empty())
        return misbehaved("exit code " + std::to_string(exit) + " without an error line; stderr " +
                          report["stderr"].dump());
    if (errors.size() > 2)
        return misbehaved("more than two error lines: " + report["stderr"].dump());
    const ErrorLine& failure = errors.back();
    const std::string shown = failure.code + ": " + failure.message;
    const auto entry = catalogued_failure(failure.code, failure.message);
    if (!entry)
        return misbehaved("not in the failure tables: " + shown);
    // A worker's failure reaches the runner in a Failed frame, which carries exit code 70: its
    // invalid requests (64 in the worker) end the run with 70.
    const bool relayed = expected.operation == "run" && exit == 70 && entry->exit_code == 64;
    if (exit != entry->exit_code && !relayed)
        return misbehaved("exit code " + std::to_string(exit) + " for " + shown);

    const bool publication_failed =
        errors.size() == 2 || is_status_publication_failure(failure.code, failure.message);
    if (errors.size() == 2 && !is_status_publication_failure(errors[0].code, errors[0].message))
        return misbehaved("first of two error lines is no status publication failure: " +
                          errors[0].code + ": " + errors[0].message);
    const json& status = report["status"];
    if (!expected.publishes_status) {
        // Nothing to publish.
    } else if (entry->before_status) {
        if (!status.is_null())
            return misbehaved("a status file was written before the policy was read");
    } else if (publication_failed) {
        // What was there before stays: nothing, or an earlier complete document.
        if (!status.is_null() && !is_complete_status(status))
            return misbehaved("status file left incomplete: " + status.dump());
    } else {
        const std::string wanted = failed_document(expected.operation, failure).dump();
        if (status != wanted)
            return misbehaved("status " + status.dump() + " does not agree with " + shown);
    }
    return {Verdict::Kind::listed_failure, shown};
}

}  // namespace

// ---------------------------------------------------------------- call sites
std::vector<LoggedCall> read_call_log(const std::string& path) {
    std::vector<LoggedCall> calls;
    std::ifstream in(path);
    for (std::string line; std::getline(in, line);) {
        const auto space = line.find(' ');
        if (space == std::string::npos)
            continue;
        LoggedCall call{line.substr(0, space), line.substr(space + 1)};
        if (call.site.ends_with(" fault")) {
            call.site.resize(call.site.size() - 6);
            call.faulted = true;
        }
        calls.push_back(std::move(call));
    }
    return calls;
}

namespace {

CallSite plain_site(const std::string& site, std::uint64_t nth) {
    CallSite plain;
    plain.site = site;
    plain.nth = nth;
    return plain;
}

}  // namespace

std::vector<CallSite> call_sites(const std::vector<LoggedCall>& calls, std::string_view role) {
    static const std::set<std::string> loop = {"ConnectNamedPipe", "WaitForSingleObject@Process"};
    std::vector<const LoggedCall*> own;
    for (const auto& call : calls)
        if (role.empty() || call.role == role)
            own.push_back(&call);

    std::vector<CallSite> sites;
    std::map<std::string, std::uint64_t> seen;
    std::map<std::string, std::uint64_t> seen_after_loop;
    CallSite anchor;  // its site is empty until the loop has ended
    bool loop_passed = false;
    for (std::size_t k = 0; k < own.size(); ++k) {
        const std::string& site = own[k]->site;
        if (!loop_passed && site == "ConnectNamedPipe") {
            // Fold the accept loop into its first connect and its first poll of the worker.
            sites.push_back(plain_site(site, ++seen[site]));
            const std::string poll = "WaitForSingleObject@Process";
            CallSite first_poll = plain_site(poll, seen[poll] + 1);
            first_poll.polling = true;
            sites.push_back(first_poll);
            while (k + 1 < own.size() && loop.contains(own[k + 1]->site))
                ++k;
            loop_passed = true;
            if (k + 1 < own.size())
                anchor = plain_site(own[k + 1]->site, seen[own[k + 1]->site] + 1);
            continue;
        }
        ++seen[site];
        CallSite called = plain_site(site, seen[site]);
        if (loop_passed && loop.contains(site) && !anchor.site.empty()) {
            called.nth = ++seen_after_loop[site];
            called.anchor = anchor.site;
            called.anchor_nth = anchor.nth;
        }
        sites.push_back(called);
    }
    return sites;
}

std::string Injection::function() const {
    return function_of(at.site);
}

std::string Injection::describe() const {
    std::string text = at.site + "#" + std::to_string(at.nth);
    if (!at.anchor.empty())
        text += " after " + at.anchor + "#" + std::to_string(at.anchor_nth);
    text += kind == winsim::FaultKind::quirk ? " quirk " : " fail ";
    return text + std::to_string(value);
}

std::vector<Injection> injections_for(const std::vector<CallSite>& sites) {
    std::vector<Injection> all;
    for (const auto& site : sites) {
        all.push_back({site, winsim::FaultKind::fail, failure_value(site.site)});
        for (const auto value : quirk_values(site.site))
            all.push_back({site, winsim::FaultKind::quirk, value});
    }
    return all;
}

void arm_in_process(const Injection& injection) {
    const winsim::Fault fault{injection.at.site, injection.at.nth, injection.value, injection.kind};
    if (injection.at.anchor.empty())
        winsim::inject_fault(fault);
    else
        winsim::inject_fault_after(fault, injection.at.anchor, injection.at.anchor_nth);
}

std::string faults_entry(std::string_view role, const Injection& injection) {
    std::string entry = std::string(role) + "/" + injection.at.site + ":" +
                        std::to_string(injection.at.nth) + ":" + std::to_string(injection.value);
    if (injection.kind == winsim::FaultKind::quirk)
        entry += ":quirk";
    if (!injection.at.anchor.empty())
        entry += ":after=" + injection.at.anchor + "#" + std::to_string(injection.at.anchor_nth);
    return entry;
}

// ---------------------------------------------------------------- judging
Verdict judge(const SweepExpectation& expected, const Injection& injection, const json& report) {
    if (report.contains("crashed"))
        return misbehaved("crashed: " + report["crashed"].get<std::string>());
    if (report.value("timed_out", false))
        return misbehaved("did not end in time");
    const auto left = leftovers(report);
    const auto faulted = report.value("faulted", json::array());
    const std::string role = report.value("role", "");
    const std::string scope = role.empty() ? expected.operation : role;
    Verdict verdict = {Verdict::Kind::not_reached, "the worker connected before the first poll"};
    if (!faulted.empty()) {
        bool reported = false;
        for (const auto& line : lines_of(report.value("stderr", "")))
            reported = reported || parse_error_line(line).has_value();
        const bool succeeded =
            !reported &&
            (report.value("exit_code", -1) == expected.success_exit || !report["status"].is_null());
        verdict = succeeded ? judge_success(expected, injection, scope, report)
                            : judge_failure(expected, report);
    } else if (!injection.at.polling) {
        verdict = misbehaved("the fault was never reached");
    }
    if (!left.empty() && verdict.kind != Verdict::Kind::misbehaved)
        verdict = misbehaved(verdict.note);
    if (verdict.kind == Verdict::Kind::misbehaved) {
        const std::string err = report.value("stderr", "");
        verdict.note +=
            "; stderr ends " + json(err.substr(err.size() > 300 ? err.size() - 300 : 0)).dump();
    }
    for (const auto& problem : left)
        verdict.note += "; " + problem;
    return verdict;
}

void SweepTally::add(const Injection& injection, const Verdict& verdict) {
    if (const char* verbose = std::getenv("QUARVEL_SWEEP_VERBOSE"); verbose != nullptr)
        std::printf("%s %s: %s\n", operation_.c_str(), injection.describe().c_str(),
                    verdict.note.c_str());
    ++counts_[verdict.kind];
    ++repetitions_;
    sites_.insert(injection.at.site + "#" + std::to_string(injection.at.nth) + injection.at.anchor);
    if (verdict.kind == Verdict::Kind::misbehaved)
        misbehaving_.push_back(injection.describe() + ": " + verdict.note);
    if (verdict.kind == Verdict::Kind::ignored)
        ignored_[verdict.note].push_back(injection.describe());
}

std::string SweepTally::summary() const {
    const auto count = [&](Verdict::Kind kind) {
        const auto found = counts_.find(kind);
        return found == counts_.end() ? std::size_t{0} : found->second;
    };
    std::ostringstream text;
    text << operation_ << ": " << sites_.size() << " call sites failed in " << repetitions_
         << " repetitions (failures and quirks), " << (repetitions_ - misbehaving_.size())
         << " behaved (" << count(Verdict::Kind::listed_failure) << " with a listed failure, "
         << count(Verdict::Kind::ignored) << " succeeding where the failure is ignored, "
         << count(Verdict::Kind::not_reached) << " polls not reached), " << misbehaving_.size()
         << " misbehaved\n";
    for (const auto& [reason, where] : ignored_) {
        text << "  ignored: " << reason << ":";
        for (const auto& site : where)
            text << " " << site << ";";
        text << "\n";
    }
    for (const auto& line : misbehaving_)
        text << "  MISBEHAVED " << line << "\n";
    return text.str();
}

}  // namespace quarvel::testing
