#pragma once
// Variables that the simulated process creation leaves for the process it starts (its exact
// command line, its inherited handles) must not be taken by a later process that merely
// inherited the environment, such as a program that a shell started in turn. The creator
// therefore names the process they are for.

namespace winsim {

inline constexpr const char* kLaunchedPidVariable = "WINSIM_LAUNCHED_PID";

// True when this process is the one the simulated host started with the current environment.
bool started_by_simulated_host();

}  // namespace winsim
