#include "processes/job_holder_watch.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "machine/machine.h"
#include "processes/job_registry.h"
#include "processes/process_identity.h"

namespace winsim {
namespace {

// "<pid>:<start time>" of the holder, in the watcher's environment only.
constexpr const char* kHolderVariable = "WINSIM_JOB_HOLDER";
constexpr int kPipeDescriptor = 3;
// Out of the way of the standard descriptors and of the one the watcher reads.
constexpr int kHolderDescriptorFloor = 10;
constexpr char kReleased = 'R';
// A holder whose pipe closed but that still runs after this long has replaced its program
// image: the handles of the old image are gone all the same.
constexpr auto kEndingLimit = std::chrono::seconds(2);

struct Watch {
    std::mutex mutex;
    std::size_t holds = 0;
    int pipe = -1;  // the write end, held by this process alone
    pid_t watcher = -1;
};

Watch& watch() {
    // Never destroyed: job handles close while the process exits, when function-local
    // statics may already be gone.
    static auto* instance = new Watch;
    return *instance;
}

int moved_out_of_the_way(int fd) {
    const int moved = ::fcntl(fd, F_DUPFD_CLOEXEC, kHolderDescriptorFloor);
    ::close(fd);
    return moved;
}

void start_watcher(Watch& state) {
    int ends[2];
    if (::pipe2(ends, O_CLOEXEC) != 0)
        return;
    const int read_end = moved_out_of_the_way(ends[0]);
    const int write_end = moved_out_of_the_way(ends[1]);
    if (read_end < 0 || write_end < 0) {
        ::close(read_end);
        ::close(write_end);
        return;
    }
    // The watcher may be gone (killed by hand) when this process next tells it something.
    std::signal(SIGPIPE, SIG_IGN);

    const auto start = process_start_time(::getpid()).value_or(0);
    std::string holder = std::string(kHolderVariable) + "=" + std::to_string(::getpid()) + ":" +
                         std::to_string(start);
    std::string machine = "WINSIM_MACHINE=" + machine_directory();
    char name[] = "winsim-job-watcher";
    char* argv[] = {name, nullptr};
    std::vector<std::string> environment = {holder, machine};
    // A holder built with the sanitizers passes their settings on, so that the watcher's
    // reports go where every other process's go instead of to its null standard error.
    for (const char* variable : {"ASAN_OPTIONS", "UBSAN_OPTIONS", "LSAN_OPTIONS"})
        if (const char* value = std::getenv(variable))
            environment.push_back(std::string(variable) + "=" + value);
    std::vector<char*> envp;
    for (auto& entry : environment)
        envp.push_back(entry.data());
    envp.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_adddup2(&actions, read_end, kPipeDescriptor);
    posix_spawn_file_actions_addclosefrom_np(&actions, kPipeDescriptor + 1);
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    sigset_t none;
    sigemptyset(&none);
    posix_spawnattr_setsigmask(&attributes, &none);
    posix_spawnattr_setpgroup(&attributes, 0);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETPGROUP | POSIX_SPAWN_SETSIGMASK);
    pid_t pid = -1;
    const int error =
        ::posix_spawn(&pid, "/proc/self/exe", &actions, &attributes, argv, envp.data());
    posix_spawnattr_destroy(&attributes);
    posix_spawn_file_actions_destroy(&actions);
    ::close(read_end);
    if (error != 0) {
        // No watcher: the jobs still end when this process closes them or exits normally.
        ::close(write_end);
        return;
    }
    state.pipe = write_end;
    state.watcher = pid;
}

void stop_watcher(Watch& state) {
    if (state.pipe < 0)
        return;
    [[maybe_unused]] const auto written = ::write(state.pipe, &kReleased, 1);
    ::close(state.pipe);
    state.pipe = -1;
    int status = 0;
    while (::waitpid(state.watcher, &status, 0) < 0 && errno == EINTR) {
    }
    state.watcher = -1;
}

int watch_holder(pid_t holder, std::uint64_t start) {
    char said = 0;
    ssize_t got = 0;
    do
        got = ::read(kPipeDescriptor, &said, 1);
    while (got < 0 && errno == EINTR);
    if (got == 1 && said == kReleased)
        return 0;
    // The pipe closed without a word: the holder is ending. Its pipe closes a moment before
    // the kernel marks it ended.
    const auto limit = std::chrono::steady_clock::now() + kEndingLimit;
    while (is_same_live_process(holder, start) && std::chrono::steady_clock::now() < limit)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    // A machine that a test has already removed has nothing left to release.
    const char* machine = std::getenv("WINSIM_MACHINE");
    if (machine == nullptr || ::access(machine, F_OK) != 0)
        return 0;
    release_jobs_of_ended_holder(holder, start);
    return 0;
}

// Runs before anything else of the program image when it was started as a watcher.
__attribute__((constructor(101))) void become_watcher_when_asked() {
    const char* holder = std::getenv(kHolderVariable);
    if (holder == nullptr)
        return;
    char* rest = nullptr;
    const auto pid = static_cast<pid_t>(std::strtol(holder, &rest, 10));
    const auto start = std::strtoull(*rest == ':' ? rest + 1 : rest, nullptr, 10);
    ::_exit(watch_holder(pid, start));
}

}  // namespace

void hold_job_watch() {
    auto& state = watch();
    std::lock_guard lock(state.mutex);
    if (state.holds++ == 0)
        start_watcher(state);
}

void drop_job_watch() {
    auto& state = watch();
    std::lock_guard lock(state.mutex);
    if (state.holds == 0 || --state.holds > 0)
        return;
    stop_watcher(state);
}

}  // namespace winsim
