#include "processes/job_registry.h"

#include <dirent.h>
#include <unistd.h>
#include <csignal>
#include <nlohmann/json.hpp>
#include <sstream>
#include <vector>

#include <winsim/jobs.h>

#include "machine/machine.h"
#include "processes/process_identity.h"

namespace winsim {
namespace {

constexpr const char* kJobsState = "jobs.json";

struct Member {
    pid_t pid = 0;
    std::uint64_t start = 0;
};

struct GroupMember {
    pid_t pid = 0;
    pid_t group = 0;
    std::uint64_t start = 0;
};

// Every process of the host with its group and start time.
std::vector<GroupMember> host_processes() {
    std::vector<GroupMember> found;
    DIR* proc = ::opendir("/proc");
    if (proc == nullptr)
        return found;
    while (const dirent* entry = ::readdir(proc)) {
        const pid_t pid = static_cast<pid_t>(std::atoi(entry->d_name));
        if (pid <= 0)
            continue;
        const auto read = process_stat_text(pid);
        if (!read)
            continue;
        const std::string& text = *read;
        const auto paren = text.rfind(')');
        if (paren == std::string::npos || paren + 2 > text.size())
            continue;
        std::istringstream fields(text.substr(paren + 2));
        std::string state;
        long parent = 0;
        long group = 0;
        fields >> state >> parent >> group;
        std::string skipped;
        for (int field = 6; field < 22; ++field)
            fields >> skipped;
        std::uint64_t start = 0;
        fields >> start;
        if (fields)
            found.push_back({pid, static_cast<pid_t>(group), start});
    }
    ::closedir(proc);
    return found;
}

std::vector<Member> members_of(const nlohmann::json& job) {
    std::vector<Member> members;
    for (const auto& member : job.value("members", nlohmann::json::array()))
        members.push_back({member.at("pid").get<pid_t>(), member.at("start").get<std::uint64_t>()});
    return members;
}

// A process belongs to a member when it is the member or was started in the member's group
// after the member itself (a group id stays taken while any process is in the group).
bool belongs_to(const GroupMember& process, const Member& member) {
    if (process.pid == member.pid)
        return process.start == member.start;
    return process.group == member.pid && process.start >= member.start;
}

// Ends every process that belongs to one of the members. A member may start another process
// while the others are being ended: look again until a pass finds nobody left.
void end_members(const std::vector<Member>& members) {
    for (int pass = 0; pass < 5; ++pass) {
        bool ended_any = false;
        for (const auto& process : host_processes()) {
            if (process.pid == ::getpid())
                continue;
            for (const auto& member : members) {
                if (!belongs_to(process, member))
                    continue;
                ended_any = ::kill(process.pid, SIGKILL) == 0 || ended_any;
                break;
            }
        }
        if (!ended_any)
            break;
    }
}

// Drops the holders `is_gone` picks from every job; returns the members of the kill-on-close
// jobs that no holder keeps any more (those jobs are forgotten with them).
template <class Picker>
std::vector<Member> drop_holders(Picker is_gone) {
    std::vector<Member> to_end;
    // Releasing cannot report a failure: a job whose record cannot be reached keeps running.
    (void)update_machine_state(kJobsState, [&](nlohmann::json& state) {
        if (!state.contains("jobs"))
            return false;
        bool changed = false;
        auto& jobs = state["jobs"];
        for (auto it = jobs.begin(); it != jobs.end();) {
            auto& holders = (*it)["holders"];
            const auto before = holders.size();
            for (auto holder = holders.begin(); holder != holders.end();) {
                if (is_gone(holder->at("pid").get<pid_t>(),
                            holder->at("start").get<std::uint64_t>()))
                    holder = holders.erase(holder);
                else
                    ++holder;
            }
            changed = changed || holders.size() != before;
            if (holders.size() != before && holders.empty()) {
                if (it->value("kill_on_close", false)) {
                    const auto members = members_of(*it);
                    to_end.insert(to_end.end(), members.begin(), members.end());
                }
                it = jobs.erase(it);
            } else {
                ++it;
            }
        }
        return changed;
    });
    return to_end;
}

bool is_member(const GroupMember& process, const nlohmann::json& job) {
    for (const auto& member : members_of(job))
        if (belongs_to(process, member))
            return true;
    return false;
}

DWORD limit_flags_of(const nlohmann::json& job) {
    if (job.contains("limit_flags"))
        return job.at("limit_flags").get<DWORD>();
    return job.value("kill_on_close", false) ? JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE : 0;
}

void append_member(nlohmann::json& job, pid_t pid, std::uint64_t start) {
    for (const auto& member : members_of(job))
        if (member.pid == pid && member.start == start)
            return;
    job["members"].push_back({{"pid", pid}, {"start", start}});
}

}  // namespace

std::uint64_t create_job_record() {
    std::uint64_t id = 0;
    const auto start = process_start_time(::getpid()).value_or(0);
    const DWORD locked = update_machine_state(kJobsState, [&](nlohmann::json& state) {
        id = state.value("next", std::uint64_t{1});
        state["next"] = id + 1;
        state["jobs"][std::to_string(id)] = {
            {"kill_on_close", false},
            {"owner", ::getpid()},
            {"holders", nlohmann::json::array({{{"pid", ::getpid()}, {"start", start}}})},
            {"members", nlohmann::json::array()}};
        return true;
    });
    return locked == ERROR_SUCCESS ? id : 0;
}

bool set_job_limits(std::uint64_t job, DWORD limit_flags) {
    const DWORD locked = update_machine_state(kJobsState, [&](nlohmann::json& state) {
        auto& jobs = state["jobs"];
        if (!jobs.contains(std::to_string(job)))
            return false;
        auto& record = jobs[std::to_string(job)];
        record["kill_on_close"] = (limit_flags & JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE) != 0;
        record["limit_flags"] = limit_flags;
        return true;
    });
    return locked == ERROR_SUCCESS;
}

bool add_job_member(std::uint64_t job, pid_t pid) {
    const auto start = process_start_time(pid);
    if (!start)
        return false;
    bool added = false;
    (void)update_machine_state(kJobsState, [&](nlohmann::json& state) {
        auto& jobs = state["jobs"];
        if (!jobs.contains(std::to_string(job)))
            return false;
        append_member(jobs[std::to_string(job)], pid, *start);
        added = true;
        return true;
    });
    return added;
}

bool breakaway_allowed() {
    const auto own_start = process_start_time(::getpid());
    if (!own_start)
        return true;
    const GroupMember self{::getpid(), ::getpgrp(), *own_start};
    const auto state = read_machine_state(kJobsState);
    if (!state.contains("jobs"))
        return true;
    for (const auto& [id, job] : state["jobs"].items())
        if (is_member(self, job) && (limit_flags_of(job) & JOB_OBJECT_LIMIT_BREAKAWAY_OK) == 0)
            return false;
    return true;
}

bool join_creator_jobs(pid_t child, bool breaking_away) {
    if (breaking_away)
        return true;
    const auto child_start = process_start_time(child);
    const auto own_start = process_start_time(::getpid());
    if (!child_start || !own_start)
        return true;
    const GroupMember self{::getpid(), ::getpgrp(), *own_start};
    const DWORD locked = update_machine_state(kJobsState, [&](nlohmann::json& state) {
        if (!state.contains("jobs"))
            return false;
        bool changed = false;
        for (auto& [id, job] : state["jobs"].items()) {
            if (!is_member(self, job) ||
                (limit_flags_of(job) & JOB_OBJECT_LIMIT_SILENT_BREAKAWAY_OK) != 0)
                continue;
            append_member(job, child, *child_start);
            changed = true;
        }
        return changed;
    });
    return locked == ERROR_SUCCESS;
}

void release_job(std::uint64_t job) {
    const auto self = ::getpid();
    const auto key = std::to_string(job);
    std::vector<Member> to_end;
    (void)update_machine_state(kJobsState, [&](nlohmann::json& state) {
        auto& jobs = state["jobs"];
        if (!jobs.contains(key))
            return false;
        auto& record = jobs[key];
        auto& holders = record["holders"];
        for (auto holder = holders.begin(); holder != holders.end(); ++holder) {
            if (holder->at("pid").get<pid_t>() == self) {
                holders.erase(holder);
                break;
            }
        }
        if (holders.empty()) {
            if (record.value("kill_on_close", false))
                to_end = members_of(record);
            jobs.erase(key);
        }
        return true;
    });
    end_members(to_end);
}

void release_jobs_of_ended_holder(pid_t pid, std::uint64_t start) {
    end_members(drop_holders([&](pid_t holder, std::uint64_t holder_start) {
        return holder == pid && holder_start == start;
    }));
}

std::string jobs_document() {
    return read_machine_state(kJobsState).dump();
}

}  // namespace winsim
