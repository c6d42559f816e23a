#pragma once
// Everything the simulated Windows host declares, in the names and shapes of the Win32 API.
// Only src/platform/win32.h and the simulated host's own tests include this file.

#include <winsim/types.h>
#include <winsim/kernel.h>
#include <winsim/bcrypt.h>
#include <winsim/process.h>
#include <winsim/security.h>
#include <winsim/security_descriptor.h>
#include <winsim/pipes.h>
#include <winsim/access_control.h>
#include <winsim/restricted_token.h>
#include <winsim/jobs.h>
#include <winsim/desktop.h>
#include <winsim/files.h>
#include <winsim/accounts.h>
#include <winsim/netapi.h>
#include <winsim/system_paths.h>
#include <winsim/com.h>
#include <winsim/netfw.h>
#include <winsim/dpapi.h>
#include <winsim/system_time.h>
#include <winsim/modules.h>
#include <winsim/named_security.h>
#include <winsim/synchronization.h>
