#pragma once
// kernel32's system clock in the simulated host.

#include <winsim/types.h>

// The host's clock, unless a test set the machine's clock (winsim::set_system_clock). Fault
// injection: the call cannot fail, so an injected fault makes it report `value` intervals after
// 1601-01-01 (the high part zero), a time long before 1970.
void GetSystemTimeAsFileTime(LPFILETIME time);
