#include "selftest/check_result.h"

#include <algorithm>
#include <stdexcept>

namespace quarvel::selftest {
namespace {

constexpr std::string_view kExpectations[] = {"allowed", "denied", "holds", "observe"};
constexpr std::string_view kVerdicts[] = {"pass", "FAIL", "observed", "not available here"};

std::string with_error(std::string_view what, std::uint32_t error) {
    return std::string(what) + " (Windows error " + std::to_string(error) + ")";
}

template <class Enum, std::size_t N>
Enum parse_name(const std::string& text, const std::string_view (&names)[N]) {
    for (std::size_t k = 0; k < N; ++k)
        if (names[k] == text)
            return static_cast<Enum>(k);
    throw std::invalid_argument("unknown name: " + text);
}

CheckResult make(std::string_view id, std::string_view title, Expectation expected,
                 std::string observed, Verdict verdict) {
    return CheckResult{
        std::string(id), std::string(title), expected, std::move(observed), verdict, {}};
}

}  // namespace

CheckResult attempt(std::string_view id, std::string_view title, Expectation expected,
                    std::uint32_t error, const std::vector<std::uint32_t>& refusals) {
    const bool refused = std::find(refusals.begin(), refusals.end(), error) != refusals.end();
    std::string observed = error == 0         ? std::string("allowed")
                           : refused          ? with_error("denied", error)
                           : refusals.empty() ? with_error("failed", error)
                                              : with_error("failed otherwise", error);
    Verdict verdict = Verdict::observed;
    if (expected == Expectation::allowed)
        verdict = error == 0 ? Verdict::pass : Verdict::fail;
    else if (expected == Expectation::denied || expected == Expectation::holds)
        verdict = error != 0 && refused ? Verdict::pass : Verdict::fail;
    return make(id, title, expected, std::move(observed), verdict);
}

CheckResult property(std::string_view id, std::string_view title, bool holds,
                     std::string_view observed) {
    return make(id, title, Expectation::holds, std::string(observed),
                holds ? Verdict::pass : Verdict::fail);
}

CheckResult observation(std::string_view id, std::string_view title, std::string_view observed) {
    return make(id, title, Expectation::observe, std::string(observed), Verdict::observed);
}

CheckResult unavailable(std::string_view id, std::string_view title, Expectation expected) {
    return make(id, title, expected, "not available here", Verdict::unavailable);
}

CheckResult not_reached(std::string_view id, std::string_view title, Expectation expected,
                        std::string_view why) {
    return make(id, title, expected, std::string(why),
                expected == Expectation::observe ? Verdict::observed : Verdict::fail);
}

std::string_view expectation_text(Expectation expected) {
    return kExpectations[static_cast<std::size_t>(expected)];
}

std::string_view verdict_text(Verdict verdict) {
    return kVerdicts[static_cast<std::size_t>(verdict)];
}

nlohmann::json to_json(const CheckResult& check) {
    nlohmann::json value = {{"id", check.id},
                            {"title", check.title},
                            {"expected", expectation_text(check.expected)},
                            {"observed", check.observed},
                            {"verdict", verdict_text(check.verdict)}};
    if (!check.mode.empty())
        value["mode"] = check.mode;
    return value;
}

CheckResult check_from_json(const nlohmann::json& value) {
    CheckResult check;
    check.id = value.at("id").get<std::string>();
    check.title = value.at("title").get<std::string>();
    check.expected =
        parse_name<Expectation>(value.at("expected").get<std::string>(), kExpectations);
    check.observed = value.at("observed").get<std::string>();
    check.verdict = parse_name<Verdict>(value.at("verdict").get<std::string>(), kVerdicts);
    check.mode = value.value("mode", std::string());
    return check;
}

}  // namespace quarvel::selftest
