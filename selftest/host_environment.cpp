#include "selftest/host_environment.h"

#include <span>
#include <vector>

#include "platform/unique_resource.h"
#include "platform/wide_text.h"
#include "platform/win32.h"
#include "windows/security/os_failure.h"
#include "windows/security/sid_conversion.h"
#include "windows/security/token_information.h"

namespace quarvel::selftest {
namespace {

constexpr const char* kCode = "selftest_identity_failed";
constexpr DWORD kLogonIdAttributes = 0xC0000000;

}  // namespace

Result<HostIdentity> host_identity() {
    UniqueHandle token;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, token.put()))
        return std::unexpected(os_failure(kCode, "Could not open the self-test's own token."));
    auto user = read_token_information(token.get(), TokenUser, kCode, "the self-test's user");
    if (!user)
        return std::unexpected(std::move(user.error()));
    auto user_sid = sid_to_string(user->as<TOKEN_USER>()->User.Sid);
    if (!user_sid)
        return std::unexpected(std::move(user_sid.error()));
    auto groups = read_token_information(token.get(), TokenGroups, kCode, "the self-test's groups");
    if (!groups)
        return std::unexpected(std::move(groups.error()));
    HostIdentity identity{*user_sid, {}};
    const auto* list = groups->as<TOKEN_GROUPS>();
    for (const auto& group : std::span(list->Groups, list->GroupCount)) {
        if ((group.Attributes & kLogonIdAttributes) != kLogonIdAttributes)
            continue;
        auto logon = sid_to_string(group.Sid);
        if (!logon)
            return std::unexpected(std::move(logon.error()));
        identity.logon_sid = *logon;
        break;
    }
    return identity;
}

Result<std::string> own_program_path() {
    std::vector<WCHAR> buffer(260);
    for (;;) {
        const DWORD length =
            GetModuleFileNameW(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
        if (length == 0)
            return std::unexpected(os_failure(kCode, "Could not find the self-test's own path."));
        if (length < buffer.size())
            return narrow_lossy(WideView(buffer.data(), length));
        buffer.resize(buffer.size() * 2);
    }
}

Result<std::string> temporary_folder() {
    std::vector<WCHAR> buffer(MAX_PATH + 2);
    const DWORD length = GetTempPathW(static_cast<DWORD>(buffer.size()), buffer.data());
    if (length == 0 || length >= buffer.size())
        return std::unexpected(os_failure(kCode, "Could not find the temporary folder."));
    std::string folder = narrow_lossy(WideView(buffer.data(), length));
    if (folder.size() > 3 && folder.back() == '\\')
        folder.pop_back();
    return folder;
}

std::optional<std::string> environment_value(const char* name) {
    std::vector<WCHAR> buffer(32768);
    const DWORD length = GetEnvironmentVariableW(to_wide(name).c_str(), buffer.data(),
                                                 static_cast<DWORD>(buffer.size()));
    if (length == 0 || length >= buffer.size())
        return std::nullopt;
    return narrow_lossy(WideView(buffer.data(), length));
}

bool folder_exists(const std::string& path) {
    const DWORD attributes = GetFileAttributesW(to_wide(path).c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

}  // namespace quarvel::selftest
