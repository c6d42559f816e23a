#include "windows/runner/workspace_grant.h"

#include "windows/security/access_lock.h"
#include "windows/security/path_access.h"

namespace quarvel {

Result<void> WorkspaceGrant::release() {
    if (released_)
        return {};
    auto lock = acquire_access_lock();
    if (!lock)
        return std::unexpected(lock.error());
    Result<void> first = {};
    // A path whose revoke was refused is kept for the next release: the failure is reported
    // once, but the capability's entry is not given up on.
    std::vector<WideString> refused;
    for (auto& path : paths_) {
        auto revoked = set_path_access(path, capability_.get(), 0, REVOKE_ACCESS);
        if (revoked)
            continue;
        if (first)
            first = std::unexpected(revoked.error());
        refused.push_back(std::move(path));
    }
    paths_ = std::move(refused);
    released_ = paths_.empty();
    lock->release();
    return first;
}

}  // namespace quarvel
