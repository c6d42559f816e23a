#include "faults.h"

#include <fcntl.h>
#include <unistd.h>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <mutex>
#include <sstream>
#include <vector>

namespace winsim {
namespace {

constexpr const char* kFaultsVariable = "WINSIM_FAULTS";
constexpr const char* kCallLogVariable = "WINSIM_CALL_LOG";

struct ArmedFault {
    Fault fault;  // `function` without its role
    std::uint64_t calls_seen = 0;
};

struct FaultRegistry {
    std::mutex mutex;
    std::vector<ArmedFault> armed;
    // Entries for other roles, in WINSIM_FAULTS form, passed on to every child.
    std::vector<std::string> for_descendants;
    bool environment_read = false;
};

FaultRegistry& registry() {
    // Never destroyed: calls made while the process exits still count.
    static auto* instance = new FaultRegistry;
    return *instance;
}

// "role/Function@qualifier" into the role ("" without one) and the call site.
std::pair<std::string, std::string> split_role(const std::string& name) {
    const auto slash = name.rfind('/');
    if (slash == std::string::npos)
        return {"", name};
    return {name.substr(0, slash), name.substr(slash + 1)};
}

std::string entry_text(const std::string& name, const Fault& fault) {
    return name + ":" + std::to_string(fault.nth_call) + ":" + std::to_string(fault.value) +
           (fault.kind == FaultKind::quirk ? ":quirk" : "");
}

// Arms the fault here when it is for this process, else keeps it for the children.
void arm_or_pass_on(FaultRegistry& faults, Fault fault) {
    auto [role, site] = split_role(fault.function);
    if (!role.empty() && role != process_role()) {
        faults.for_descendants.push_back(entry_text(fault.function, fault));
        return;
    }
    fault.function = std::move(site);
    faults.armed.push_back({std::move(fault), 0});
}

// "[role/]Function[@qualifier]:nth:value[:quirk]" entries separated by commas. Malformed
// entries are ignored: the variable is a test aid, and a test that mistypes it sees its fault
// never fire. What is not for this process stays in the variable for the processes it starts.
void arm_faults_from_environment(FaultRegistry& faults) {
    faults.environment_read = true;
    const char* text = std::getenv(kFaultsVariable);
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
        arm_or_pass_on(faults, std::move(fault));
    }
    std::string kept;
    for (const auto& passed : faults.for_descendants)
        kept += (kept.empty() ? "" : ",") + passed;
    if (kept.empty())
        unsetenv(kFaultsVariable);
    else
        setenv(kFaultsVariable, kept.c_str(), 1);
}

FaultRegistry& read_registry() {
    auto& faults = registry();
    if (!faults.environment_read)
        arm_faults_from_environment(faults);
    return faults;
}

// One line per call, appended with a single write so that the lines of concurrent processes
// never mix.
void log_call(const char* path, std::string_view site) {
    const std::string& role = process_role();
    std::string line = (role.empty() ? std::string("-") : role) + " ";
    line += site;
    line += '\n';
    const int fd = ::open(path, O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
    if (fd < 0)
        return;
    [[maybe_unused]] const auto written = ::write(fd, line.data(), line.size());
    ::close(fd);
}

std::string qualified_name(std::string_view function, std::string_view qualifier) {
    std::string qualified(function);
    if (!qualifier.empty())
        qualified.append("@").append(qualifier);
    return qualified;
}

// Cheap when nothing is armed and nothing logged: it runs on every simulated call.
std::optional<Fault> take(std::string_view function, std::string_view qualifier) {
    if (const char* log = std::getenv(kCallLogVariable); log != nullptr && *log != '\0')
        log_call(log, qualified_name(function, qualifier));
    auto& faults = registry();
    std::lock_guard lock(faults.mutex);
    if (read_registry().armed.empty())
        return std::nullopt;
    const std::string qualified = qualified_name(function, qualifier);
    for (auto it = faults.armed.begin(); it != faults.armed.end(); ++it) {
        const auto& name = it->fault.function;
        if (name != function && (qualifier.empty() || name != qualified))
            continue;
        if (++it->calls_seen == it->fault.nth_call) {
            Fault hit = std::move(it->fault);
            faults.armed.erase(it);
            return hit;
        }
    }
    return std::nullopt;
}

}  // namespace

const std::string& process_role() {
    static const std::string role = [] {
        std::ifstream file("/proc/self/cmdline", std::ios::binary);
        const std::string text((std::istreambuf_iterator<char>(file)), {});
        const auto first_end = text.find('\0');
        if (first_end == std::string::npos || first_end + 1 >= text.size())
            return std::string();
        return std::string(text.c_str() + first_end + 1);
    }();
    return role;
}

void inject_fault(Fault fault) {
    auto& faults = registry();
    std::lock_guard lock(faults.mutex);
    arm_or_pass_on(read_registry(), std::move(fault));
}

void inject_fault(std::string_view function, std::uint32_t value, std::uint64_t nth_call,
                  FaultKind kind) {
    inject_fault(Fault{std::string(function), nth_call, value, kind});
}

void clear_faults() {
    auto& faults = registry();
    std::lock_guard lock(faults.mutex);
    faults.armed.clear();
    faults.for_descendants.clear();
    faults.environment_read = true;
}

std::size_t pending_fault_count() {
    auto& faults = registry();
    std::lock_guard lock(faults.mutex);
    return read_registry().armed.size();
}

std::optional<Fault> take_fault(std::string_view function) {
    return take(function, {});
}

std::optional<Fault> take_fault(std::string_view function, std::string_view qualifier) {
    return take(function, qualifier);
}

std::string faults_for_descendants() {
    auto& faults = registry();
    std::lock_guard lock(faults.mutex);
    std::string text;
    for (const auto& entry : read_registry().for_descendants)
        text += (text.empty() ? "" : ",") + entry;
    return text;
}

}  // namespace winsim
