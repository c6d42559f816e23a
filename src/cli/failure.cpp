#include "cli/failure.h"

#include "cli/json_writer.h"
#include "platform/wide_text.h"
#include "platform/win32.h"

namespace quarvel {

Failure fixed_failure(std::string_view code, std::string_view message, std::int32_t exit_code) {
    return Failure{std::string(code), std::string(message), exit_code};
}

std::string system_error_text(std::uint32_t os_error) {
    WCHAR buffer[512] = {};
    const DWORD length =
        FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                       os_error, 0, buffer, static_cast<DWORD>(std::size(buffer)), nullptr);
    if (length == 0)
        return "Unknown error " + std::to_string(os_error);
    std::string text = narrow_lossy(WideView(buffer, length));
    // System texts end with a line break (and sometimes a space before it).
    while (!text.empty() && (text.back() == '\r' || text.back() == '\n' || text.back() == ' '))
        text.pop_back();
    return text;
}

Failure io_failure(std::string_view context, std::uint32_t os_error) {
    return formatted_failure("io_error", exit_code::io, context, ": ", system_error_text(os_error),
                             " (os error ", os_error, ")");
}

std::string error_line(const Failure& failure) {
    JsonWriter writer;
    writer.begin_object().key("code").string(failure.code).key("message").string(failure.message);
    writer.end_object();
    if (auto line = std::move(writer).finish())
        return std::move(*line);
    std::string fallback = R"({"code":"serialization_failed","message":)";
    append_json_string_unchecked(fallback, failure.message);
    fallback += '}';
    return fallback;
}

}  // namespace quarvel
