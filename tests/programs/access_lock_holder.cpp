// A program that tests start to share the access lock with them. Usage:
//   access_lock_holder grant <path> <sid>   takes the lock, grants the SID modify access on
//                                           the path, releases the lock, ends with 0
//   access_lock_holder hold <marker>        takes the lock, creates the marker file, then
//                                           waits until it is killed
//   access_lock_holder exit-holding         takes the lock and ends with 0 without releasing
// Prints a failure's error line and ends with 3 when a step fails, 2 on bad arguments.

#include <string>
#include <vector>

#include "cli/process_arguments.h"
#include "platform/unique_resource.h"
#include "platform/wide_text.h"
#include "platform/win32.h"
#include "windows/security/access_lock.h"
#include "windows/security/path_access.h"
#include "windows/security/sid_conversion.h"

namespace {

using namespace quarvel;

[[noreturn]] void finish(UINT code) {
    ExitProcess(code);
}

[[noreturn]] void fail_with(const Failure& failure) {
    const std::string line = error_line(failure) + "\n";
    DWORD written = 0;
    WriteFile(GetStdHandle(STD_ERROR_HANDLE), line.data(), static_cast<DWORD>(line.size()),
              &written, nullptr);
    finish(3);
}

AccessLock take_lock() {
    auto lock = acquire_access_lock();
    if (!lock)
        fail_with(lock.error());
    return std::move(*lock);
}

void grant(const WideString& path, const std::string& sid_text) {
    const auto sid = sid_from_string(sid_text);
    if (!sid)
        fail_with(sid.error());
    AccessLock lock = take_lock();
    if (auto granted = set_path_access(path, sid->get(), kModifyAccess, GRANT_ACCESS); !granted)
        fail_with(granted.error());
    lock.release();
}

[[noreturn]] void hold(const WideString& marker) {
    AccessLock lock = take_lock();
    UniqueHandle file(CreateFileW(marker.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                  FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file)
        finish(3);
    file.reset();
    for (;;)
        Sleep(1000);
}

}  // namespace

int main() {
    const auto arguments = cli::process_arguments();
    if (!arguments || arguments->empty())
        finish(2);
    const std::string action = narrow_lossy((*arguments)[0]);
    if (action == "grant" && arguments->size() == 3) {
        grant((*arguments)[1], narrow_lossy((*arguments)[2]));
        finish(0);
    }
    if (action == "hold" && arguments->size() == 2)
        hold((*arguments)[1]);
    if (action == "exit-holding" && arguments->size() == 1) {
        AccessLock lock = take_lock();
        // Ends the process with the lock still held: ExitProcess runs no destructor.
        finish(0);
    }
    finish(2);
}
