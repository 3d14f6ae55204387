// One setup at a time in a user's session, so that two never install into one folder at once.
#pragma once

#include "win/handles.h"

// In the session's own namespace: another user's setup on the same machine is not in the way.
inline constexpr const wchar_t* singleInstanceName = L"Local\\OstrelSetup.SingleInstance";

struct InstanceClaim {
    UniqueKernelHandle mutex; // held for the whole run
    bool first = false;       // no other setup of this session holds it
};

// Claims the session's named mutex. When it cannot be made at all the claim counts as first: a
// missing guard must not keep the user from installing.
InstanceClaim claimSingleInstance(const wchar_t* name = singleInstanceName);

// Restores and brings to the front the window of the setup that runs already; false when there is
// none (yet).
bool activateRunningSetup();
