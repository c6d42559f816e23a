#include "process_environment.h"

#include <algorithm>
#include <cstring>
#include <string_view>

#include "machine.h"
#include "wtf8.h"

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
    own.insert(own.end(), overrides.begin(), overrides.end());
    std::erase_if(entries, [&](const std::string& entry) {
        const auto name = name_of(entry);
        // Faults armed for this process stay here; a block the caller gives names the
        // child's on purpose.
        if (name == "WINSIM_FAULTS" && block == nullptr)
            return true;
        if (name == "WINSIM_INHERITED_HANDLES")
            return true;
        return std::any_of(own.begin(), own.end(),
                           [&](const auto& variable) { return variable.first == name; });
    });
    for (const auto& [name, value] : own)
        entries.push_back(name + "=" + value);
    return entries;
}

}  // namespace winsim
