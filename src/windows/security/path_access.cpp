#include "windows/security/path_access.h"

#include "platform/unique_resource.h"
#include "windows/security/explicit_access.h"
#include "windows/security/pinned_path.h"

namespace quarvel {
namespace {

// Whether `path` is the final path, in its verbatim form (\\?\C:\...) or without the prefix.
bool names_final_path(WideView path, const WideString& final_path) {
    if (path == WideView(final_path))
        return true;
    const WideView verbatim = WIDE("\\\\?\\");
    return final_path.starts_with(verbatim) && path == WideView(final_path).substr(verbatim.size());
}

}  // namespace

EXPLICIT_ACCESS_W path_access_entry(PSID sid, DWORD mask, ACCESS_MODE mode) {
    return sid_access_entry(sid, mask, mode, SUB_CONTAINERS_AND_OBJECTS_INHERIT);
}

Result<void> set_path_access(WideView path, PSID sid, DWORD mask, ACCESS_MODE mode) {
    const std::string shown = narrow_lossy(path);
    const std::string link_rejected = "Protected path cannot be a symbolic link: " + shown + ".";
    // Held until the list is written, so that the name written to is the object checked.
    const auto pinned = pin_path(path, {"Could not inspect protected path", link_rejected});
    if (!pinned)
        return std::unexpected(pinned.error());
    // The caller resolved the path before: a final path that differs now means a folder on the
    // way was replaced since, by a link or by another directory.
    if (!names_final_path(path, pinned->final_path()))
        return std::unexpected(fixed_failure(
            "reparse_path_rejected", "Protected path changed after it was resolved: " + shown + ".",
            exit_code::internal));
    // The list is read and written through the final path: its verbatim form names the pinned
    // object whatever the caller's spelling would go through. SetNamedSecurityInfoW takes the
    // name as writable text.
    WideString name = pinned->final_path();

    PACL current = nullptr;  // points into `descriptor`
    LocalPtr<void> descriptor;
    const DWORD read =
        GetNamedSecurityInfoW(name.c_str(), SE_FILE_OBJECT, DACL_SECURITY_INFORMATION, nullptr,
                              nullptr, &current, nullptr, descriptor.put());
    if (read != ERROR_SUCCESS)
        return std::unexpected(formatted_failure("acl_read_failed", exit_code::internal,
                                                 "Could not read access rules for ", shown, ": ",
                                                 read, "."));
    EXPLICIT_ACCESS_W entry = path_access_entry(sid, mask, mode);
    const auto merged = merge_grants(std::span(&entry, 1), current);
    if (!merged)
        return std::unexpected(formatted_failure("acl_update_failed", exit_code::internal,
                                                 "Could not prepare access rules for ", shown, ": ",
                                                 merged.error(), "."));
    // DACL_SECURITY_INFORMATION alone: the path's protection from inheritance stays as it is.
    const DWORD written =
        SetNamedSecurityInfoW(name.data(), SE_FILE_OBJECT, DACL_SECURITY_INFORMATION, nullptr,
                              nullptr, merged->get(), nullptr);
    if (written != ERROR_SUCCESS)
        return std::unexpected(formatted_failure("acl_update_failed", exit_code::internal,
                                                 "Could not apply access rules for ", shown, ": ",
                                                 written, "."));
    return {};
}

Result<void> protect_directory(WideView path, std::span<EXPLICIT_ACCESS_W> entries,
                               std::string_view code) {
    const auto list = merge_grants(entries, nullptr);
    if (!list)
        return std::unexpected(
            formatted_failure(code, exit_code::internal,
                              "Could not prepare protected directory access: ", list.error(), "."));
    WideString name(path);
    const DWORD written =
        SetNamedSecurityInfoW(name.data(), SE_FILE_OBJECT,
                              PROTECTED_DACL_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION,
                              nullptr, nullptr, list->get(), nullptr);
    if (written != ERROR_SUCCESS)
        return std::unexpected(formatted_failure(
            code, exit_code::internal, "Could not protect directory access: ", written, "."));
    return {};
}

}  // namespace quarvel
