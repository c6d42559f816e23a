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
    for (const auto& path : paths_) {
        auto revoked = set_path_access(path, capability_.get(), 0, REVOKE_ACCESS);
        if (!revoked && first)
            first = std::unexpected(revoked.error());
    }
    released_ = true;
    lock->release();
    return first;
}

}  // namespace quarvel
