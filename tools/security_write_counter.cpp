// The cost of each access-list write, as the simulated host counts it.
//
// Linked only into quarvel-sandbox-windows-counted, a host-lane build of the program in which
// every SetNamedSecurityInfoW call passes through here (ld --wrap, see CMakeLists.txt). After the
// real call, one line is appended to the file that QUARVEL_COUNTED_WRITES_LOG names:
//   <role> <visits> <result> <protected> <path>
// role: the process's first argument ("setup", "run", ...); visits: the objects that write
// visited (winsim::last_security_write_visits: the object and, for a new list on a directory,
// every descendant it propagated to); result: the call's return value; protected: 1 when the
// write also cut inheritance from the parent. scripts/cost-model.py reads the lines.

#include <fcntl.h>
#include <unistd.h>

#include <cstdlib>
#include <string>

#include <winsim/testing.h>

#include "platform/wide_text.h"
#include "platform/win32.h"

// The simulated host's SetNamedSecurityInfoW is a C++ function: --wrap needs its mangled name.
// Should its declaration change, the link of the counted build fails on the __real_ name below.
#define QUARVEL_REAL_SET_NAMED_SECURITY_INFO \
    __real__Z21SetNamedSecurityInfoWPDs14SE_OBJECT_TYPEjPvS1_P3ACLS3_
#define QUARVEL_WRAP_SET_NAMED_SECURITY_INFO \
    __wrap__Z21SetNamedSecurityInfoWPDs14SE_OBJECT_TYPEjPvS1_P3ACLS3_

extern "C" DWORD QUARVEL_REAL_SET_NAMED_SECURITY_INFO(LPWSTR object_name, SE_OBJECT_TYPE type,
                                                      SECURITY_INFORMATION information, PSID owner,
                                                      PSID group, PACL dacl, PACL sacl);

namespace {

// One write() per line with O_APPEND, so that lines of concurrent processes never mix.
void append_line(const char* log, const std::string& line) {
    const int fd = ::open(log, O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
    if (fd < 0)
        return;
    [[maybe_unused]] const auto written = ::write(fd, line.data(), line.size());
    ::close(fd);
}

}  // namespace

extern "C" DWORD QUARVEL_WRAP_SET_NAMED_SECURITY_INFO(LPWSTR object_name, SE_OBJECT_TYPE type,
                                                      SECURITY_INFORMATION information, PSID owner,
                                                      PSID group, PACL dacl, PACL sacl) {
    const DWORD result = QUARVEL_REAL_SET_NAMED_SECURITY_INFO(object_name, type, information, owner,
                                                              group, dacl, sacl);
    if (const char* log = std::getenv("QUARVEL_COUNTED_WRITES_LOG");
        log != nullptr && *log != '\0') {
        const bool cuts_inheritance = (information & PROTECTED_DACL_SECURITY_INFORMATION) != 0;
        const std::string& role = winsim::process_role();
        append_line(log, (role.empty() ? "-" : role) + " " +
                             std::to_string(winsim::last_security_write_visits()) + " " +
                             std::to_string(result) + " " + (cuts_inheritance ? "1" : "0") + " " +
                             quarvel::narrow_lossy(object_name) + "\n");
    }
    return result;
}
