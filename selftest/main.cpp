// quarvel-sandbox-selftest: runs the self-test, or, under the names that start with "__", one
// of the parts its copy plays inside the sandbox.

#include <string>

#include "cli/failure.h"
#include "cli/process_arguments.h"
#include "platform/win32.h"
#include "selftest/options.h"
#include "selftest/probe/probe_main.h"
#include "selftest/self_test.h"

namespace {

using quarvel::WideString;

constexpr DWORD kLingerLimitMs = 10 * 60 * 1000;

void write_to(DWORD stream, const std::string& text) {
    std::size_t done = 0;
    while (done < text.size()) {
        DWORD written = 0;
        if (!WriteFile(GetStdHandle(stream), text.data() + done,
                       static_cast<DWORD>(text.size() - done), &written, nullptr) ||
            written == 0)
            return;
        done += written;
    }
}

// The other run's command: it stays until its stop file appears (or, should the self-test
// never make it, for ten minutes).
int wait_for_stop_file(const WideString& stop_file) {
    const ULONGLONG deadline = GetTickCount64() + kLingerLimitMs;
    while (GetFileAttributesW(stop_file.c_str()) == INVALID_FILE_ATTRIBUTES &&
           GetTickCount64() < deadline)
        Sleep(20);
    return 0;
}

// The probe's child: it runs until something ends it.
[[noreturn]] void run_forever() {
    for (;;)
        Sleep(1000);
}

int self_test(const std::vector<WideString>& arguments) {
    auto parsed = quarvel::selftest::parse_options(arguments);
    if (!parsed) {
        write_to(STD_ERROR_HANDLE, quarvel::error_line(parsed.error()) + "\n");
        return parsed.error().exit_code;
    }
    if (std::holds_alternative<quarvel::selftest::Help>(*parsed)) {
        write_to(STD_OUTPUT_HANDLE, std::string(quarvel::selftest::kUsage) + "\n");
        return 0;
    }
    const auto& options = std::get<quarvel::selftest::Options>(*parsed);
    const auto report = quarvel::selftest::run_self_test(options);
    write_to(STD_OUTPUT_HANDLE, quarvel::selftest::render_report(report));
    if (const auto error = quarvel::selftest::write_report(report, options.report); error != 0)
        write_to(STD_ERROR_HANDLE, quarvel::error_line(quarvel::io_failure(
                                       "Could not write the report " + options.report, error)) +
                                       "\n");
    else
        write_to(STD_OUTPUT_HANDLE, "Report written to " + options.report + "\n");
    return quarvel::selftest::report_exit_code(report);
}

}  // namespace

int main() {
    const auto arguments = quarvel::cli::process_arguments();
    if (!arguments) {
        write_to(STD_ERROR_HANDLE, quarvel::error_line(arguments.error()) + "\n");
        ExitProcess(static_cast<UINT>(arguments.error().exit_code));
    }
    const auto& args = *arguments;
    const std::string role = args.empty() ? std::string() : quarvel::narrow_lossy(args[0]);
    int code = 0;
    if (role == "__probe" && args.size() == 2)
        code = quarvel::selftest::run_probe(args[1]);
    else if (role == "__linger" && args.size() == 2)
        code = wait_for_stop_file(args[1]);
    else if (role == "__child")
        run_forever();
    else if (role == "__exit")
        code = 0;
    else
        code = self_test(args);
    ExitProcess(static_cast<UINT>(code));
}
