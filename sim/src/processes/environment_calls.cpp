// The environment block of the simulated process: the POSIX environment, whose values carry
// UTF-16 text as WTF-8 so that unpaired surrogates survive, searched by name without regard to
// letter case as Windows does.

#include <winsim/kernel.h>
#include <winsim/process.h>

#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include "machine/ascii_text.h"
#include "machine/faults.h"
#include "machine/object.h"
#include "machine/wtf8.h"

extern char** environ;

namespace {

constexpr DWORD kEnvironmentVariableNotFound = 203;  // ERROR_ENVVAR_NOT_FOUND

// The names in the environment that Windows takes for `name`.
std::vector<std::string> names_matching(const std::string& name) {
    std::vector<std::string> found;
    for (char** entry = environ; *entry != nullptr; ++entry) {
        const char* equals = std::strchr(*entry + 1, '=');
        if (equals == nullptr)
            continue;
        const std::string_view candidate(*entry, static_cast<std::size_t>(equals - *entry));
        if (winsim::equal_ignoring_ascii_case(candidate, name))
            found.emplace_back(candidate);
    }
    return found;
}

std::optional<std::u16string> value_of(const std::string& name) {
    const auto names = names_matching(name);
    if (names.empty())
        return std::nullopt;
    const char* value = std::getenv(names.front().c_str());
    if (value == nullptr)
        return std::nullopt;
    return winsim::utf16_from_wtf8(value);
}

// A name Windows accepts for a variable it sets: not empty, and no '=' after its first
// character (names such as "=C:" are the current directories of drives).
bool acceptable_name(const std::u16string_view name) {
    return !name.empty() && name.find(u'=', 1) == std::u16string_view::npos;
}

}  // namespace

DWORD GetEnvironmentVariableW(LPCWSTR name, LPWSTR buffer, DWORD size) {
    if (auto fault = winsim::take_fault("GetEnvironmentVariableW")) {
        SetLastError(fault->value);
        return 0;
    }
    const auto value = name == nullptr ? std::nullopt : value_of(winsim::wtf8_from_utf16(name));
    if (!value) {
        SetLastError(kEnvironmentVariableNotFound);
        return 0;
    }
    const auto length = static_cast<DWORD>(value->size());
    if (buffer == nullptr || size <= length)
        return length + 1;
    std::memcpy(buffer, value->data(), value->size() * sizeof(WCHAR));
    buffer[length] = u'\0';
    // Success leaves the last error alone, also for an empty value that returns 0.
    return length;
}

BOOL SetEnvironmentVariableW(LPCWSTR name, LPCWSTR value) {
    WINSIM_FAIL_IF_INJECTED("SetEnvironmentVariableW");
    if (name == nullptr || !acceptable_name(name))
        return winsim::fail(ERROR_INVALID_PARAMETER);
    const std::string narrow_name = winsim::wtf8_from_utf16(name);
    for (const auto& existing : names_matching(narrow_name))
        ::unsetenv(existing.c_str());
    if (value != nullptr &&
        ::setenv(narrow_name.c_str(), winsim::wtf8_from_utf16(value).c_str(), 1) != 0)
        return winsim::fail(ERROR_NOT_ENOUGH_MEMORY);
    return TRUE;
}
