#include "machine/faults.h"

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

// Where counting starts: at once, or after the nth call of an anchor site.
struct Anchor {
    std::string site;  // empty: no anchor
    std::uint64_t nth = 1;
};

struct ArmedFault {
    Fault fault;  // `function` without its role
    Anchor anchor;
    std::uint64_t calls_seen = 0;
    std::uint64_t anchor_calls_seen = 0;

    // Whether calls of the faulted function count yet: always, or once the anchor was seen.
    bool counting() const { return anchor.site.empty() || anchor_calls_seen >= anchor.nth; }
};

struct ParsedEntry {
    Fault fault;
    Anchor anchor;
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

std::string entry_text(const std::string& name, const Fault& fault, const Anchor& anchor) {
    std::string text = name + ":" + std::to_string(fault.nth_call) + ":" +
                       std::to_string(fault.value) +
                       (fault.kind == FaultKind::quirk   ? ":quirk"
                        : fault.kind == FaultKind::pause ? ":pause"
                                                         : "");
    if (!anchor.site.empty())
        text += ":after=" + anchor.site + "#" + std::to_string(anchor.nth);
    return text;
}

// One WINSIM_FAULTS entry, read from its end: the function name may itself hold colons (COM
// methods such as "INetFwRules::Item").
std::optional<ParsedEntry> parse_entry(std::string entry) {
    ParsedEntry parsed;
    Fault& fault = parsed.fault;
    if (const auto marker = entry.find(":after="); marker != std::string::npos) {
        const std::string after = entry.substr(marker + 7);
        entry.resize(marker);
        const auto hash = after.rfind('#');
        if (hash == std::string::npos || hash == 0)
            return std::nullopt;
        parsed.anchor.site = after.substr(0, hash);
        parsed.anchor.nth = std::strtoull(after.c_str() + hash + 1, nullptr, 10);
    }
    const auto take_last_field = [&entry]() -> std::optional<std::string> {
        const auto colon = entry.rfind(':');
        if (colon == std::string::npos)
            return std::nullopt;
        std::string field = entry.substr(colon + 1);
        entry.resize(colon);
        return field;
    };
    auto field = take_last_field();
    if (field && (*field == "quirk" || *field == "pause")) {
        fault.kind = *field == "quirk" ? FaultKind::quirk : FaultKind::pause;
        field = take_last_field();
    }
    auto nth = take_last_field();
    if (!field || !nth || entry.empty())
        return std::nullopt;
    fault.value = static_cast<std::uint32_t>(std::strtoul(field->c_str(), nullptr, 0));
    fault.nth_call = std::strtoull(nth->c_str(), nullptr, 10);
    fault.function = std::move(entry);
    return parsed;
}

// Arms the fault here when it is for this process, else keeps it for the children.
void arm_or_pass_on(FaultRegistry& faults, Fault fault, Anchor anchor = {}) {
    auto [role, site] = split_role(fault.function);
    if (!role.empty() && role != process_role()) {
        faults.for_descendants.push_back(entry_text(fault.function, fault, anchor));
        return;
    }
    fault.function = std::move(site);
    faults.armed.push_back({std::move(fault), std::move(anchor)});
}

// "[role/]Function[@qualifier]:nth:value[:quirk|:pause][:after=Site#n]" entries separated by
// commas.
// Malformed entries are ignored: the variable is a test aid, and a test that mistypes it sees its
// fault never fire. What is not for this process stays in the variable for the processes it
// starts.
void arm_faults_from_environment(FaultRegistry& faults) {
    faults.environment_read = true;
    const char* text = std::getenv(kFaultsVariable);
    if (text == nullptr)
        return;
    std::stringstream entries{std::string(text)};
    std::string entry;
    while (std::getline(entries, entry, ','))
        if (auto parsed = parse_entry(entry))
            arm_or_pass_on(faults, std::move(parsed->fault), std::move(parsed->anchor));
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
// never mix. The call that took a fault says so, so that a sweep can tell a fault that fired
// and was handled from one that was never reached.
void log_call(const char* path, std::string_view site, std::string_view outcome) {
    const std::string& role = process_role();
    std::string line = (role.empty() ? std::string("-") : role) + " ";
    line += site;
    if (!outcome.empty())
        line.append(" ").append(outcome);
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

bool names_call(const std::string& name, std::string_view function, std::string_view qualified) {
    return name == function || name == qualified;
}

// The armed fault this call takes, if any. The call is counted for each fault it concerns up
// to the one it takes.
std::optional<Fault> match(FaultRegistry& faults, std::string_view function,
                           std::string_view qualifier) {
    const std::string qualified = qualified_name(function, qualifier);
    for (auto it = faults.armed.begin(); it != faults.armed.end(); ++it) {
        // A call is counted toward its fault only once the anchor was passed, so that the
        // anchor call itself is not the first one counted when both name the same function.
        if (!it->counting()) {
            if (names_call(it->anchor.site, function, qualified))
                ++it->anchor_calls_seen;
            continue;
        }
        if (!names_call(it->fault.function, function, qualified))
            continue;
        if (++it->calls_seen == it->fault.nth_call) {
            Fault hit = std::move(it->fault);
            faults.armed.erase(it);
            return hit;
        }
    }
    return std::nullopt;
}

// Cheap when nothing is armed and nothing logged: it runs on every simulated call.
std::optional<Fault> take(std::string_view function, std::string_view qualifier) {
    const char* log = std::getenv(kCallLogVariable);
    const bool logging = log != nullptr && *log != '\0';
    std::optional<Fault> hit;
    {
        auto& faults = registry();
        std::lock_guard lock(faults.mutex);
        if (!read_registry().armed.empty())
            hit = match(faults, function, qualifier);
    }
    const bool paused = hit && hit->kind == FaultKind::pause;
    if (logging)
        log_call(log, qualified_name(function, qualifier), paused ? "paused" : hit ? "fault" : "");
    // Until the test that armed it kills this process; no call ever returns from here.
    while (paused)
        ::pause();
    return hit;
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

void inject_fault_after(Fault fault, std::string_view anchor, std::uint64_t anchor_nth) {
    auto& faults = registry();
    std::lock_guard lock(faults.mutex);
    arm_or_pass_on(read_registry(), std::move(fault), Anchor{std::string(anchor), anchor_nth});
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
