#pragma once
// The simulated machine: a directory that holds the state every process of the machine shares.

#include <nlohmann/json.hpp>

#include <functional>
#include <string>
#include <string_view>

namespace winsim {

// Created on first use: WINSIM_MACHINE, or a default under the user's data directory.
std::string machine_directory();

// Runs `change` on the JSON document stored as `name` in the machine directory (an empty
// object when absent) under an exclusive lock shared by every process of the machine, and
// writes the document back when `change` returns true.
void update_machine_state(std::string_view name,
                          const std::function<bool(nlohmann::json&)>& change);

// A copy of the document, read under the same lock.
nlohmann::json read_machine_state(std::string_view name);

}  // namespace winsim
