#include "processes/process_environment.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <string_view>

#include "machine/faults.h"
#include "machine/machine.h"
#include "machine/wtf8.h"

extern char** environ;

namespace winsim {
namespace {

std::vector<std::string> entries_of_block(const void* block, bool unicode) {
    std::vector<std::string> entries;
    if (unicode) {
        for (auto* text = static_cast<const char16_t*>(block); *text != u'\0';) {
            const std::u16string_view entry(text);
            entries.push_back(wtf8_from_utf16(entry));
            text += entry.size() + 1;
        }
    } else {
        for (auto* text = static_cast<const char*>(block); *text != '\0';) {
            entries.emplace_back(text);
            text += std::strlen(text) + 1;
        }
    }
    return entries;
}

std::string_view name_of(std::string_view entry) {
    // Windows keeps per-drive variables such as "=C:=C:\x" whose name starts with '='.
    const auto equals = entry.find('=', 1);
    return entry.substr(0, equals);
}

}  // namespace

std::vector<std::string> child_environment(
    const void* block, bool unicode,
    const std::vector<std::pair<std::string, std::string>>& overrides) {
    std::vector<std::string> entries;
    if (block != nullptr) {
        entries = entries_of_block(block, unicode);
    } else {
        for (char** entry = environ; *entry != nullptr; ++entry)
            entries.emplace_back(*entry);
    }
    std::vector<std::pair<std::string, std::string>> own{{"WINSIM_MACHINE", machine_directory()}};
    if (const char* log = std::getenv("WINSIM_CALL_LOG"); log != nullptr)
        own.emplace_back("WINSIM_CALL_LOG", log);
    own.insert(own.end(), overrides.begin(), overrides.end());
    // Faults armed for this process stay here; a block the caller gives names the child's
    // on purpose; faults for a role reach every descendant whatever its environment.
    std::string faults = faults_for_descendants();
    std::erase_if(entries, [&](const std::string& entry) {
        const auto name = name_of(entry);
        if (name == "WINSIM_FAULTS") {
            if (block != nullptr) {
                const std::string given = entry.substr(name.size() + 1);
                faults = given + (faults.empty() || given.empty() ? "" : ",") + faults;
            }
            return true;
        }
        if (name == "WINSIM_INHERITED_HANDLES" || name == "WINSIM_STANDARD_INHERITED")
            return true;
        return std::any_of(own.begin(), own.end(),
                           [&](const auto& variable) { return variable.first == name; });
    });
    if (!faults.empty())
        own.emplace_back("WINSIM_FAULTS", faults);
    for (const auto& [name, value] : own)
        entries.push_back(name + "=" + value);
    return entries;
}

}  // namespace winsim
