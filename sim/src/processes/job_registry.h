#pragma once
// The jobs of the machine, their members and the processes that hold handles to them, kept in
// the machine state ("jobs.json") so that a process finds the jobs it belongs to when it
// starts a child, and so that a job ends when its last holder does, however that holder ends.
// Each member leads a process group of its own (the simulated process creation makes it so);
// ending a member's group ends what it started without the simulated host's help (a shell's
// background commands), and the children it started through the simulated host are members
// themselves.

#include <sys/types.h>

#include <cstdint>

#include <winsim/types.h>
#include <string>

namespace winsim {

// A new job whose one holder is this process. Each of these returns failure (0 or false, with
// the last error set) when the machine's state cannot be locked.
std::uint64_t create_job_record();
// The job's basic limit flags; of them the simulated host enforces
// JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE and the two breakaway limits.
bool set_job_limits(std::uint64_t job, DWORD limit_flags);
// False when the process is gone.
bool add_job_member(std::uint64_t job, pid_t pid);

// Whether a child of this process created with CREATE_BREAKAWAY_FROM_JOB may leave this
// process's jobs: every job it belongs to (as a member, or as a process in a member's group)
// must set JOB_OBJECT_LIMIT_BREAKAWAY_OK. True when it belongs to none.
bool breakaway_allowed();

// Makes `child`, just created by this process, a member of every job this process belongs to
// (as a member, or as a process in a member's group), except jobs with
// JOB_OBJECT_LIMIT_SILENT_BREAKAWAY_OK and, when `breaking_away`, every job.
bool join_creator_jobs(pid_t child, bool breaking_away);

// This process closed its last handle to the job. When no other holder is left the job ends:
// every member's group is ended if the job kills on close, and the job is forgotten.
void release_job(std::uint64_t job);

// The process that started at `start` as `pid` has ended without closing its job handles
// (killed, or ended without running its cleanup): every job it held is released for it.
void release_jobs_of_ended_holder(pid_t pid, std::uint64_t start);

// The machine's jobs as JSON text (tests inspect it).
std::string jobs_document();

}  // namespace winsim
