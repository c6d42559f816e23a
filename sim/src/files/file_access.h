#pragma once
// The calling process's access to files and directories, checked as Windows checks it when a
// file call opens, creates, deletes or renames: the object's descriptor against the process
// token, generic rights mapped for files. Traverse checking is bypassed, as it is for every
// token that holds SeChangeNotifyPrivilege (all of them here, as on Windows by default).

#include <winsim/types.h>

#include <string>

#include "security/security_descriptor.h"

namespace winsim {

// ERROR_SUCCESS when the process is granted `desired` on the object (a resolved path, see
// file_security.h), counting what Windows grants through the folder that holds it:
// FILE_READ_ATTRIBUTES to whoever may list the folder, DELETE to whoever may delete its
// children (FILE_DELETE_CHILD). ERROR_ACCESS_DENIED otherwise.
DWORD check_file_access(const std::string& resolved, ACCESS_MASK desired);

// The same against a descriptor the caller already has (no folder rights counted).
bool process_granted(const SecurityDescription& object, ACCESS_MASK desired);

}  // namespace winsim
