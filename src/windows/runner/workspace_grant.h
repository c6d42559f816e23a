#pragma once
// What a run granted its capability SID, so that exactly that is taken back: on the success path,
// on every failure path, and when the grant is dropped unreleased.

#include <vector>

#include "cli/failure.h"
#include "platform/unique_resource.h"
#include "platform/wide_text.h"
#include "windows/security/owned_sid.h"

namespace quarvel {

class WorkspaceGrant {
  public:
    explicit WorkspaceGrant(OwnedSid capability) : capability_(std::move(capability)) {}
    // Takes back what is unreleased, ignoring the result: there is nobody left to tell.
    ~WorkspaceGrant() { (void)release(); }
    WorkspaceGrant(const WorkspaceGrant&) = delete;
    WorkspaceGrant& operator=(const WorkspaceGrant&) = delete;

    PSID capability() const { return capability_.get(); }
    // A canonical path on which the capability SID is about to be granted.
    void record(WideString canonical_path) { paths_.push_back(std::move(canonical_path)); }
    bool released() const { return released_; }

    // Under the access lock (taken again, which the owning thread may while it holds it),
    // revokes the capability SID's entries on every recorded path in order, going on after a
    // failure, and returns the first failure. The paths whose revoke failed stay recorded and
    // the grant unreleased, so that the next release (the run's failure path, at the latest the
    // destructor) tries them again; once every path is done it does nothing more. When the lock
    // cannot be taken its failure is returned and the grant stays unreleased.
    Result<void> release();

  private:
    OwnedSid capability_;
    std::vector<WideString> paths_;
    bool released_ = false;
};

}  // namespace quarvel
