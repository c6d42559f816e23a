#include "platform/win32.h"
#include "selftest/probe/sandbox_checks.h"

namespace quarvel::selftest {

#if QUARVEL_HAS_CONSOLE_WINDOW
std::vector<CheckResult> console_checks() {
    const char* title = "the worker's console window, which the command shares, is visible";
    const HWND window = GetConsoleWindow();
    if (window == nullptr)
        return {observation("console.window", title, "no console window")};
    return {observation("console.window", title, IsWindowVisible(window) ? "visible" : "hidden")};
}
#else
std::vector<CheckResult> console_checks() {
    return {unavailable("console.window",
                        "the worker's console window, which the command shares, is visible",
                        Expectation::observe)};
}
#endif

}  // namespace quarvel::selftest
