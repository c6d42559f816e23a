#pragma once
// The firewall classes CoCreateInstance knows.

#include <winsim/com.h>

namespace winsim {

// A new NetFwPolicy2 or NetFwRule object asked for `riid` (REGDB_E_CLASSNOTREG for any other
// class, E_NOINTERFACE for an interface it lacks). The question does not count as a call of the
// object's QueryInterface for fault injection.
HRESULT create_firewall_object(REFCLSID rclsid, REFIID riid, void** object);

}  // namespace winsim
