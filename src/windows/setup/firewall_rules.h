#pragma once
// The way in to the Windows Firewall's rules: the calling thread joins a single-threaded
// apartment, creates the policy object and takes its rules collection.

#include "cli/failure.h"
#include "platform/com_resource.h"
#include "windows/setup/com_apartment.h"

namespace quarvel {

// Members are released in reverse order, so the apartment is left only after every reference
// into it has been given back.
struct FirewallRules {
    ComApartment apartment;
    ComPtr<INetFwPolicy2> policy;
    ComPtr<INetFwRules> rules;
};

// Fails with firewall_unavailable and the HRESULT message when COM cannot be initialised on
// this thread (nothing to balance then), the policy object cannot be created or its rules
// cannot be read (the apartment is left again).
Result<FirewallRules> open_firewall_rules();

}  // namespace quarvel
