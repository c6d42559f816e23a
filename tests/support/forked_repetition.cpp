#include "support/forked_repetition.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <thread>

#include "platform/wide_text.h"
#include "support/fault_sweep.h"
#include "support/path_security.h"

extern char** environ;

namespace quarvel::testing {
namespace {

using nlohmann::json;
using Clock = std::chrono::steady_clock;

}  // namespace

std::vector<json> run_forked(std::size_t count, const std::function<json(std::size_t)>& body,
                             unsigned limit_seconds) {
    const char* configured = std::getenv("QUARVEL_SWEEP_PARALLEL");
    const std::size_t parallel = configured != nullptr ? std::max(1, std::atoi(configured)) : 4;
    char pattern[] = "/tmp/quarvel-sweep-reports-XXXXXX";
    if (::mkdtemp(pattern) == nullptr)
        throw std::runtime_error("mkdtemp failed");
    const std::string reports_dir = pattern;
    const auto report_path = [&](std::size_t index) {
        return reports_dir + "/" + std::to_string(index) + ".json";
    };

    struct Running {
        std::size_t index;
        Clock::time_point started;
        bool killed = false;
    };
    std::map<pid_t, Running> running;
    std::vector<json> reports(count);
    std::size_t next = 0;
    while (next < count || !running.empty()) {
        while (next < count && running.size() < parallel) {
            std::fflush(nullptr);
            const pid_t child = ::fork();
            if (child < 0)
                throw std::runtime_error("fork failed");
            if (child == 0) {
                ::setpgid(0, 0);
                ::alarm(limit_seconds + 30);  // a last resort; the parent ends it first
                json report;
                try {
                    report = body(next);
                } catch (const std::exception& error) {
                    report = {{"crashed", error.what()}};
                }
                std::ofstream(report_path(next))
                    << report.dump(-1, ' ', false, json::error_handler_t::replace);
                ::_exit(0);
            }
            running[child] = {next++, Clock::now()};
        }
        int status = 0;
        const pid_t done = ::waitpid(-1, &status, WNOHANG);
        if (done > 0 && running.contains(done)) {
            const Running finished = running[done];
            running.erase(done);
            const auto parsed = json::parse(read_text(report_path(finished.index)), nullptr, false);
            if (finished.killed)
                reports[finished.index] = {
                    {"crashed", "did not end within " + std::to_string(limit_seconds) + " s"}};
            else if (parsed.is_discarded())
                reports[finished.index] = {
                    {"crashed", "no report; wait status " + std::to_string(status)}};
            else
                reports[finished.index] = parsed;
            continue;
        }
        for (auto& [pid, repetition] : running)
            if (!repetition.killed &&
                Clock::now() - repetition.started > std::chrono::seconds(limit_seconds)) {
                ::kill(-pid, SIGKILL);
                repetition.killed = true;
            }
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    std::filesystem::remove_all(reports_dir);
    return reports;
}

namespace {

void run_and_wait(std::vector<std::string> arguments) {
    const pid_t child = ::fork();
    if (child == 0) {
        std::vector<char*> argv;
        for (auto& argument : arguments)
            argv.push_back(argument.data());
        argv.push_back(nullptr);
        ::execvp(argv[0], argv.data());
        ::_exit(127);
    }
    int status = 0;
    ::waitpid(child, &status, 0);
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0)
        throw std::runtime_error("could not run " + arguments[0]);
}

// The processes of this machine other than this one, still running (zombies do not count).
std::vector<std::string> machine_processes(const std::string& machine) {
    const std::string marker = "WINSIM_MACHINE=" + machine;
    std::vector<std::string> found;
    for (const auto& entry : std::filesystem::directory_iterator("/proc")) {
        const std::string name = entry.path().filename().string();
        if (name.find_first_not_of("0123456789") != std::string::npos ||
            std::stol(name) == ::getpid())
            continue;
        const std::string environment = read_text(entry.path() / "environ");
        bool ours = false;
        for (std::size_t at = 0; at < environment.size();) {
            const auto end = environment.find('\0', at);
            if (environment.compare(at, end - at, marker) == 0)
                ours = true;
            at = end == std::string::npos ? environment.size() : end + 1;
        }
        if (!ours)
            continue;
        const std::string stat = read_text(entry.path() / "stat");
        const auto paren = stat.rfind(')');
        if (paren != std::string::npos && paren + 2 < stat.size() &&
            (stat[paren + 2] == 'Z' || stat[paren + 2] == 'X'))
            continue;
        std::string command = read_text(entry.path() / "cmdline");
        for (auto& c : command)
            if (c == '\0')
                c = ' ';
        found.push_back(name + " " + command);
    }
    return found;
}

}  // namespace

std::string read_text(const std::string& path) {
    // Plain reads: a /proc file of a process that ends meanwhile fails with ESRCH, which a C++
    // stream would throw.
    std::string text;
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return text;
    char buffer[4096];
    ssize_t got = 0;
    while ((got = ::read(fd, buffer, sizeof buffer)) > 0)
        text.append(buffer, static_cast<std::size_t>(got));
    ::close(fd);
    return text;
}

void use_machine(const std::string& machine, const std::string& template_machine) {
    if (template_machine.empty())
        std::filesystem::create_directories(machine);
    else
        run_and_wait({"cp", "-a", template_machine, machine});  // keeps the security attributes
    ::setenv("WINSIM_MACHINE", machine.c_str(), 1);
}

void capture_standard_streams(const std::string& directory) {
    const std::string out = directory + "/stdout";
    const std::string err = directory + "/stderr";
    const int out_fd = ::open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    const int err_fd = ::open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    ::dup2(out_fd, 1);
    ::dup2(err_fd, 2);
    ::close(out_fd);
    ::close(err_fd);
}

void run_program(const std::vector<std::string>& arguments,
                 const std::map<std::string, std::string>& environment,
                 const std::string& directory, unsigned limit_seconds, json& report) {
    std::vector<std::string> variables;
    for (char** entry = environ; *entry != nullptr; ++entry) {
        const std::string text = *entry;
        if (!environment.contains(text.substr(0, text.find('='))))
            variables.push_back(text);
    }
    for (const auto& [name, value] : environment)
        variables.push_back(name + "=" + value);
    std::vector<char*> envp;
    for (auto& variable : variables)
        envp.push_back(variable.data());
    envp.push_back(nullptr);
    std::vector<std::string> owned_arguments = arguments;
    std::vector<char*> argv;
    for (auto& argument : owned_arguments)
        argv.push_back(argument.data());
    argv.push_back(nullptr);

    const pid_t child = ::fork();
    if (child == 0) {
        const int in = ::open("/dev/null", O_RDONLY);
        ::dup2(in, 0);
        capture_standard_streams(directory);
        ::execve(argv[0], argv.data(), envp.data());
        ::_exit(127);
    }
    const auto deadline = Clock::now() + std::chrono::seconds(limit_seconds);
    int status = 0;
    bool timed_out = false;
    while (::waitpid(child, &status, WNOHANG) == 0) {
        if (!timed_out && Clock::now() > deadline) {
            ::kill(child, SIGKILL);
            timed_out = true;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    report["exit_code"] = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    report["timed_out"] = timed_out;
    report["stdout"] = read_text(directory + "/stdout");
    report["stderr"] = read_text(directory + "/stderr");
}

void report_leftovers(const std::string& machine, const std::string& status_host_path,
                      const std::string& call_log, json& report) {
    // Processes that a job or a failure path ends go within moments.
    const auto deadline = Clock::now() + std::chrono::seconds(5);
    auto left = machine_processes(machine);
    while (!left.empty() && Clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
        left = machine_processes(machine);
    }
    report["left_processes"] = left;
    const auto jobs = json::parse(read_text(machine + "/jobs.json"), nullptr, false);
    report["jobs"] = jobs.is_object() && jobs.contains("jobs") ? jobs["jobs"].size() : 0;
    report["status"] = std::filesystem::exists(status_host_path) ? json(read_text(status_host_path))
                                                                 : json(nullptr);
    json faulted = json::array();
    for (const auto& call : read_call_log(call_log))
        if (call.faulted)
            faulted.push_back(call.role + " " + call.site);
    report["faulted"] = faulted;
}

json foreign_sid_entries(const std::vector<std::string>& windows_paths,
                         const std::string& machine_sid_prefix) {
    json found = json::array();
    for (const auto& path : windows_paths) {
        const PathSecurity security = read_path_security(to_wide(path));
        if (security.error != 0)
            found.push_back(path + ": unreadable, " + std::to_string(security.error));
        for (const auto& entry : security.entries)
            if (entry.sid.starts_with("S-1-5-21-") && !entry.sid.starts_with(machine_sid_prefix))
                found.push_back(path + ": " + entry.sid);
    }
    return found;
}

ResourceCounts resource_counts() {
    return {winsim::open_handle_count(), winsim::outstanding_local_allocations(),
            winsim::live_com_objects(), winsim::outstanding_bstrs(),
            winsim::outstanding_safe_arrays()};
}

json leaks_since(const ResourceCounts& before) {
    const ResourceCounts now = resource_counts();
    json leaks = json::object();
    const auto note = [&](const char* what, std::size_t was, std::size_t is) {
        if (is != was)
            leaks[what] = static_cast<long long>(is) - static_cast<long long>(was);
    };
    note("handles", before.handles, now.handles);
    note("local_allocations", before.allocations, now.allocations);
    note("com_objects", before.com_objects, now.com_objects);
    note("bstrs", before.bstrs, now.bstrs);
    note("safe_arrays", before.safe_arrays, now.safe_arrays);
    if (winsim::com_initialization_depth() != 0)
        leaks["com_apartment"] = winsim::com_initialization_depth();
    return leaks;
}

}  // namespace quarvel::testing
