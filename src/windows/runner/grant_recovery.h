#pragma once
// A run that ends without taking its grants back (killed by its host, crashed, cut off by a power
// loss) leaves its record in the state directory, and the capability SID's entries on every
// location the record names. Recovery takes them back for the run that is gone: every run does it
// before its own grants, and every setup. It never makes the run or the setup fail; what cannot be
// done now stays recorded for the next attempt.

#include <cstddef>

#include "platform/wide_text.h"

namespace quarvel {

struct RecoveryTally {
    std::size_t recovered = 0;  // records of runs that were gone, taken back and deleted
    std::size_t kept = 0;       // records of runs that were gone, kept for a later attempt
};

// Goes through the records in `state_dir`'s runs folder. A record that cannot be opened for
// deletion belongs to a run that lives (or to a recovery under way elsewhere) and is left alone.
// Of every other record it revokes the capability SID's entries on each location that is still
// there and is no link (a location that is gone, or that a link now stands in for, is passed
// over: a link is never followed), removes each temporary directory it names, and deletes the
// record once all of that is done. The caller holds the access lock.
RecoveryTally recover_dead_runs(WideView state_dir);

// The same between two trace lines, "grant_recovery_started" and
// "grant_recovery_finished_<recovered>_recovered_<kept>_kept".
void recover_dead_runs_traced(WideView state_dir);

// For a caller that does not hold the access lock (setup): takes it for the recovery and lets it
// go. When the lock cannot be taken nothing is recovered, and the second trace line is
// "grant_recovery_skipped".
void recover_dead_runs_locked(WideView state_dir);

}  // namespace quarvel
