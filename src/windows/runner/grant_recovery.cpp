#include "windows/runner/grant_recovery.h"

#include <string>
#include <vector>

#include "documents/run_record.h"
#include "platform/directory_listing.h"
#include "platform/directory_tree.h"
#include "platform/file_attributes.h"
#include "platform/unique_resource.h"
#include "platform/whole_file.h"
#include "platform/windows_path.h"
#include "windows/runner/run_record_file.h"
#include "windows/runner/trace.h"
#include "windows/security/access_lock.h"
#include "windows/security/path_access.h"
#include "windows/security/sid_conversion.h"

namespace quarvel {
namespace {

enum class Outcome { alive, recovered, kept };

// The names of the records, as the folder lists them now.
std::vector<WideString> record_names(const WideString& folder) {
    // No folder, no record, or none listable: nothing to do now.
    std::vector<WideString> names;
    for (const auto& found : list_directory(join_path(folder, WIDE("*.json"))).entries)
        if ((found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0)
            names.emplace_back(found.cFileName);
    return names;
}

// Takes the capability SID's entries off one recorded location. A location that is gone carries
// nothing any more; one that a link now stands in for is not what was granted, and what the
// link leads to was never granted through it: both are passed over.
bool revoke_left_over(const WideString& path, PSID capability) {
    const DWORD attributes = GetFileAttributesW(path.c_str());  // the name itself, not followed
    if (attributes == INVALID_FILE_ATTRIBUTES)
        return is_not_found_error(GetLastError());
    if ((attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0)
        return true;
    const auto revoked = set_path_access(path, capability, 0, REVOKE_ACCESS);
    return revoked || revoked.error().code == "reparse_path_rejected";
}

// Whether everything the record names was taken back.
bool take_back(const RunRecordContents& contents) {
    const auto capability = sid_from_string(contents.capability_sid);
    if (!capability)
        return false;
    bool all_done = true;
    for (const auto& path : contents.paths)
        all_done = revoke_left_over(path, capability->get()) && all_done;
    for (const auto& directory : contents.temporary_directories)
        all_done = remove_directory_tree(directory) == 0 && all_done;
    return all_done;
}

Outcome recover_record(const WideString& path) {
    // DELETE, shared with nobody: refused with a sharing violation while the run that wrote
    // the record holds it, and keeping any second recovery out while this one works.
    UniqueHandle record(CreateFileW(path.c_str(), GENERIC_READ | DELETE, 0, nullptr, OPEN_EXISTING,
                                    FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!record) {
        const DWORD error = GetLastError();
        return error == ERROR_SHARING_VIOLATION || is_not_found_error(error) ? Outcome::alive
                                                                       : Outcome::kept;
    }
    const auto text = read_from_file(record.get());
    if (!text)
        return Outcome::kept;
    const auto contents = read_run_record(*text);
    const bool nothing_granted = !contents && contents.error() == RunRecordFault::nothing_granted;
    if (!nothing_granted && (!contents || !take_back(*contents)))
        return Outcome::kept;
    record.reset();
    return DeleteFileW(path.c_str()) ? Outcome::recovered : Outcome::kept;
}

}  // namespace

RecoveryTally recover_dead_runs(WideView state_dir) {
    RecoveryTally tally;
    const WideString folder = run_records_folder(state_dir);
    for (const auto& name : record_names(folder)) {
        switch (recover_record(join_path(folder, name))) {
            case Outcome::recovered:
                ++tally.recovered;
                break;
            case Outcome::kept:
                ++tally.kept;
                break;
            case Outcome::alive:
                break;
        }
    }
    return tally;
}

void recover_dead_runs_traced(WideView state_dir) {
    trace_stage("grant_recovery_started");
    const RecoveryTally tally = recover_dead_runs(state_dir);
    trace_stage("grant_recovery_finished_" + std::to_string(tally.recovered) + "_recovered_" +
                std::to_string(tally.kept) + "_kept");
}

void recover_dead_runs_locked(WideView state_dir) {
    auto lock = acquire_access_lock();
    if (!lock) {
        trace_stage("grant_recovery_started");
        trace_stage("grant_recovery_skipped");
        return;
    }
    recover_dead_runs_traced(state_dir);
}

}  // namespace quarvel
