// A small program that tests start as a child process to see which identity it runs as.
// Usage: identity_probe [sid ...]
// Writes "user=<SID>", "elevated=<0|1>" and, for each SID argument, "member <SID>=<0|1>", one
// per line, to standard output. Ends with 0, or 3 when its token cannot be read.

#include <string>
#include <vector>

#include "cli/process_arguments.h"
#include "platform/unique_resource.h"
#include "platform/wide_text.h"
#include "platform/win32.h"
#include "windows/security/sid_conversion.h"
#include "windows/security/token_membership.h"

namespace {

using namespace quarvel;

[[noreturn]] void finish(UINT code) {
    ExitProcess(code);
}

void write_line(const std::string& line) {
    const std::string bytes = line + "\n";
    DWORD written = 0;
    if (!WriteFile(GetStdHandle(STD_OUTPUT_HANDLE), bytes.data(), static_cast<DWORD>(bytes.size()),
                   &written, nullptr))
        finish(4);
}

std::vector<ULONGLONG> read_information(HANDLE token, TOKEN_INFORMATION_CLASS information_class) {
    DWORD needed = 0;
    GetTokenInformation(token, information_class, nullptr, 0, &needed);
    std::vector<ULONGLONG> buffer((needed + 7) / 8);
    if (needed == 0 ||
        !GetTokenInformation(token, information_class, buffer.data(), needed, &needed))
        finish(3);
    return buffer;
}

}  // namespace

int main() {
    HANDLE raw = nullptr;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY | TOKEN_DUPLICATE, &raw))
        finish(3);
    const UniqueHandle token(raw);

    const auto user = read_information(token.get(), TokenUser);
    const auto user_text =
        sid_to_string(reinterpret_cast<const TOKEN_USER*>(user.data())->User.Sid);
    if (!user_text)
        finish(3);
    write_line("user=" + *user_text);

    const auto elevation = read_information(token.get(), TokenElevation);
    write_line(
        std::string("elevated=") +
        (reinterpret_cast<const TOKEN_ELEVATION*>(elevation.data())->TokenIsElevated ? "1" : "0"));

    const auto arguments = cli::process_arguments();
    if (!arguments)
        finish(3);
    for (const WideString& argument : *arguments) {
        const std::string sid_text = narrow_lossy(argument);
        const auto sid = sid_from_string(sid_text);
        if (!sid)
            finish(3);
        const auto member = token_is_member(token.get(), sid->get(), "probe", "Probe failed.");
        if (!member)
            finish(3);
        write_line("member " + sid_text + "=" + (*member ? "1" : "0"));
    }
    finish(0);
}
