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
#include <string>

namespace winsim {

// A new job whose one holder is this process. Each of these returns failure (0 or false, with
// the last error set) when the machine's state cannot be locked.
std::uint64_t create_job_record();
bool set_job_kill_on_close(std::uint64_t job, bool kill_on_close);
// False when the process is gone.
bool add_job_member(std::uint64_t job, pid_t pid);

// Makes `child`, just created by this process, a member of every job this process belongs to
// (as a member, or as a process in a member's group).
bool join_creator_jobs(pid_t child);

// This process closed its last handle to the job. When no other holder is left the job ends:
// every member's group is ended if the job kills on close, and the job is forgotten.
void release_job(std::uint64_t job);

// The process that started at `start` as `pid` has ended without closing its job handles
// (killed, or ended without running its cleanup): every job it held is released for it.
void release_jobs_of_ended_holder(pid_t pid, std::uint64_t start);

// The machine's jobs as JSON text (tests inspect it).
std::string jobs_document();

}  // namespace winsim
