#include "faults.h"

#include <cstdlib>
#include <mutex>
#include <sstream>
#include <vector>

namespace winsim {
namespace {

struct ArmedFault {
    Fault fault;
    std::uint64_t calls_seen = 0;
};

struct FaultRegistry {
    std::mutex mutex;
    std::vector<ArmedFault> armed;
    bool environment_read = false;
};

FaultRegistry& registry() {
    static FaultRegistry instance;
    return instance;
}

// "Function:nth:value[:quirk]" entries separated by commas. Malformed entries are ignored:
// the variable is a test aid, and a test that mistypes it sees its fault never fire.
void arm_faults_from_environment(FaultRegistry& faults) {
    faults.environment_read = true;
    const char* text = std::getenv("WINSIM_FAULTS");
    if (text == nullptr)
        return;
    std::stringstream entries{std::string(text)};
    std::string entry;
    while (std::getline(entries, entry, ',')) {
        std::vector<std::string> parts;
        std::stringstream fields(entry);
        std::string field;
        while (std::getline(fields, field, ':'))
            parts.push_back(field);
        if (parts.size() < 3 || parts.size() > 4)
            continue;
        Fault fault;
        fault.function = parts[0];
        fault.nth_call = std::strtoull(parts[1].c_str(), nullptr, 10);
        fault.value = static_cast<std::uint32_t>(std::strtoul(parts[2].c_str(), nullptr, 0));
        fault.kind = parts.size() == 4 && parts[3] == "quirk" ? FaultKind::quirk : FaultKind::fail;
        faults.armed.push_back({fault, 0});
    }
    unsetenv("WINSIM_FAULTS");
}

}  // namespace

void inject_fault(Fault fault) {
    auto& faults = registry();
    std::lock_guard lock(faults.mutex);
    if (!faults.environment_read)
        arm_faults_from_environment(faults);
    faults.armed.push_back({std::move(fault), 0});
}

void inject_fault(std::string_view function, std::uint32_t value, std::uint64_t nth_call,
                  FaultKind kind) {
    inject_fault(Fault{std::string(function), nth_call, value, kind});
}

void clear_faults() {
    auto& faults = registry();
    std::lock_guard lock(faults.mutex);
    faults.armed.clear();
    faults.environment_read = true;
}

std::size_t pending_fault_count() {
    auto& faults = registry();
    std::lock_guard lock(faults.mutex);
    return faults.armed.size();
}

std::optional<Fault> take_fault(std::string_view function) {
    auto& faults = registry();
    std::lock_guard lock(faults.mutex);
    if (!faults.environment_read)
        arm_faults_from_environment(faults);
    for (auto it = faults.armed.begin(); it != faults.armed.end(); ++it) {
        if (it->fault.function != function)
            continue;
        if (++it->calls_seen == it->fault.nth_call) {
            Fault hit = std::move(it->fault);
            faults.armed.erase(it);
            return hit;
        }
    }
    return std::nullopt;
}

}  // namespace winsim
