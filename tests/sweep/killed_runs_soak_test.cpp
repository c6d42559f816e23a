// Runs four at a time on overlapping workspaces, one in ten of them killed at a random moment:
// afterwards, once one more run has looked for the records of runs that are gone, no capability
// entry is left on any path, no record, no process of any run and no temporary directory.
// QUARVEL_SOAK_RUNS sets the number of runs (48 when unset); QUARVEL_SOAK_SEED the random seed.
// The figures are printed.

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <signal.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <mutex>
#include <random>
#include <thread>
#include <vector>

#include "support/path_security.h"
#include "support/protected_machine.h"
#include "support/started_runner.h"

namespace quarvel::testing {
namespace {

using namespace std::chrono_literals;

constexpr int kAtOnce = 4;

unsigned long from_environment(const char* name, unsigned long otherwise) {
    const char* text = std::getenv(name);
    return text != nullptr && *text != '\0' ? std::strtoul(text, nullptr, 10) : otherwise;
}

class KilledRunsSoak : public ProtectedMachine {
  protected:
    // Slot k runs in C:\work\p<k>; every run shares the writable root, the readable root and
    // the runtime directory.
    std::vector<std::string> arguments_for(int slot) const {
        const std::string policy = "C:\\work\\policy" + std::to_string(slot) + ".json";
        std::ofstream(host(policy))
            << R"({"cwd":"C:\\work\\p)" << slot
            << R"(","runtime_dir":"C:\\work\\runtime","writable_roots":["C:\\work\\shared"],)"
            << R"("readable_roots":["C:\\work\\tools"],"status_file":"C:\\work\\status)" << slot
            << R"(.json"})";
        std::filesystem::create_directories(host("C:\\work\\p" + std::to_string(slot)));
        auto arguments = run_arguments({"temp", "leave"});
        arguments[5] = policy;
        return arguments;
    }
};

TEST_F(KilledRunsSoak, NothingOfAnyRunIsLeftAfterRunsAreKilledAtRandom) {
    prepare();
    std::filesystem::create_directories(host("C:\\work\\shared"));
    const unsigned long runs = from_environment("QUARVEL_SOAK_RUNS", 48);
    const unsigned long seed = from_environment("QUARVEL_SOAK_SEED", 20261208);
    std::atomic<unsigned long> next{0};
    std::atomic<unsigned long> kills{0}, completed{0}, failed{0};
    std::mutex random_lock;
    std::vector<std::string> failures;
    std::mt19937 random(static_cast<std::mt19937::result_type>(seed));
    const auto draw = [&](unsigned bound) {
        std::lock_guard guard(random_lock);
        return std::uniform_int_distribution<unsigned>(0, bound - 1)(random);
    };

    const auto started = std::chrono::steady_clock::now();
    std::vector<std::thread> slots;
    for (int slot = 0; slot < kAtOnce; ++slot)
        slots.emplace_back([&, slot] {
            const auto arguments = arguments_for(slot);
            while (next.fetch_add(1) < runs) {
                const bool kill = draw(10) == 0;
                const pid_t runner = start_runner(arguments, -1);
                if (kill) {
                    std::this_thread::sleep_for(std::chrono::milliseconds(draw(400)));
                    ::kill(runner, SIGKILL);
                    exit_status_of(runner);
                    ++kills;
                } else if (exit_status_of(runner) == 0) {
                    ++completed;
                } else {
                    ++failed;
                    std::lock_guard guard(random_lock);
                    failures.push_back(
                        contents(host("C:\\work\\status" + std::to_string(slot) + ".json")));
                }
            }
        });
    for (auto& thread : slots)
        thread.join();
    const auto deadline = std::chrono::steady_clock::now() + 30s;
    while (!machine_processes(machine_).empty() && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(10ms);
    // The runs killed last are taken back by the next run.
    write_policy();
    EXPECT_EQ(run({"streams", "", "", "0"}).exit_code, 0);
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    std::cout << "soak: " << runs << " runs, " << kAtOnce << " at a time, seed " << seed << ": "
              << kills << " killed, " << completed << " completed, " << failed
              << " failed otherwise, " << seconds << " s\n";

    EXPECT_EQ(failed, 0u);
    for (const auto& failure : failures)
        ADD_FAILURE() << failure;
    EXPECT_TRUE(machine_processes(machine_).empty());
    const auto group = nlohmann::json::parse(marker())["group_sid"].get<std::string>();
    std::vector<std::string> locations = {"C:\\work\\shared", "C:\\work\\tools",
                                          "C:\\work\\project"};
    for (int slot = 0; slot < kAtOnce; ++slot)
        locations.push_back("C:\\work\\p" + std::to_string(slot));
    for (const auto& location : locations)
        for (const auto& entry : read_path_security(to_wide(location)).entries)
            EXPECT_TRUE((entry.flags & INHERITED_ACE) != 0 || entry.sid == group)
                << location << ": " << entry.sid;
    const auto records = host(std::string(kStateDir) + "\\runs");
    EXPECT_TRUE(!std::filesystem::exists(records) || std::filesystem::is_empty(records));
    EXPECT_TRUE(std::filesystem::is_empty(host("C:\\work\\runtime")));
}

}  // namespace
}  // namespace quarvel::testing
