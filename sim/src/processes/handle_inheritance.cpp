#include "processes/handle_inheritance.h"

#include <fcntl.h>
#include <cstdlib>
#include <mutex>
#include <sstream>
#include <string_view>
#include <unordered_set>

#include "machine/fd_object.h"
#include "processes/launch_marker.h"

namespace winsim {
namespace {

struct InheritableSet {
    std::mutex mutex;
    // Handle values are never reused within a process, so a closed handle's entry is harmless;
    // it is skipped because the table no longer holds it.
    std::unordered_set<std::uintptr_t> values;
};

InheritableSet& inheritable_set() {
    static InheritableSet instance;
    return instance;
}

// FdObject keeps its type name as a pointer: give it one with static storage.
const char* stable_type_name(std::string_view type) {
    if (type == "Pipe")
        return "Pipe";
    return "File";
}

}  // namespace

void set_inheritable(HANDLE handle, bool inheritable) {
    auto& set = inheritable_set();
    std::lock_guard lock(set.mutex);
    const auto value = reinterpret_cast<std::uintptr_t>(handle);
    if (inheritable)
        set.values.insert(value);
    else
        set.values.erase(value);
}

bool is_inheritable(HANDLE handle) {
    auto& set = inheritable_set();
    std::lock_guard lock(set.mutex);
    return set.values.contains(reinterpret_cast<std::uintptr_t>(handle));
}

std::vector<InheritableDescriptor> inheritable_descriptors() {
    std::vector<std::uintptr_t> values;
    {
        auto& set = inheritable_set();
        std::lock_guard lock(set.mutex);
        values.assign(set.values.begin(), set.values.end());
    }
    std::vector<InheritableDescriptor> found;
    for (const auto value : values) {
        const auto object = std::dynamic_pointer_cast<FdObject>(
            object_from_handle(reinterpret_cast<HANDLE>(value)));
        if (!object)
            continue;
        found.push_back({value, object->fd(), object->type_name()});
    }
    return found;
}

// Format: "value=fd:type" entries separated by commas, values in hexadecimal.
std::vector<InheritedHandle> adopt_inherited_handles() {
    std::vector<InheritedHandle> adopted;
    const char* text = std::getenv(kInheritedHandlesVariable);
    if (text == nullptr)
        return adopted;
    std::stringstream entries{std::string(text)};
    unsetenv(kInheritedHandlesVariable);
    std::string entry;
    while (std::getline(entries, entry, ',')) {
        const auto equals = entry.find('=');
        const auto colon = entry.find(':', equals == std::string::npos ? 0 : equals);
        if (equals == std::string::npos || colon == std::string::npos)
            continue;
        const auto value = std::strtoull(entry.substr(0, equals).c_str(), nullptr, 16);
        const int fd = std::atoi(entry.substr(equals + 1, colon - equals - 1).c_str());
        const auto type = stable_type_name(std::string_view(entry).substr(colon + 1));
        // Only the simulated process creation passes it on, and only when asked to.
        ::fcntl(fd, F_SETFD, FD_CLOEXEC);
        adopted.push_back({value, std::make_shared<FdObject>(fd, type)});
        // An inherited handle keeps its inheritance attribute, as on Windows.
        auto& set = inheritable_set();
        std::lock_guard lock(set.mutex);
        set.values.insert(value);
    }
    return adopted;
}

bool standard_handle_inherited(int slot) {
    // Only for the process the creator started, not for a later one that merely inherited
    // the environment.
    static const std::string slots = [] {
        const char* text = std::getenv(kInheritedStandardVariable);
        return text != nullptr && started_by_simulated_host() ? std::string(text) : std::string();
    }();
    return slots.find(static_cast<char>('0' + slot)) != std::string::npos;
}

}  // namespace winsim
