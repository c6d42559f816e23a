#pragma once
// One line of the self-test's report: what was tried, what confinement expects of it, what
// happened on this machine, and the verdict.

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include <nlohmann/json.hpp>

namespace quarvel::selftest {

enum class Expectation {
    allowed,  // the attempt must succeed
    denied,   // the attempt must be refused with access denied (or the check's own refusal)
    holds,    // a property that must be true of the command or the machine
    observe,  // a fact about the machine, reported and never failed
};

enum class Verdict {
    pass,
    fail,
    observed,
    unavailable,  // this build has no model of the call: "not available here", never a pass
};

struct CheckResult {
    std::string id;     // stable name, "files.cwd.create"
    std::string title;  // what was tried, for people
    Expectation expected = Expectation::observe;
    std::string observed;
    Verdict verdict = Verdict::observed;
    std::string mode;  // "network enabled", "network disabled", or "" for the whole run

    bool operator==(const CheckResult&) const = default;
};

// Windows' access-denied error: what a refusal by an access check gives.
inline constexpr std::uint32_t kAccessDenied = 5;

// The outcome of an attempt, 0 or the Windows error it failed with. Allowed passes on 0; denied
// passes only on one of `refusals` (access denied by default): any other error proves nothing
// about confinement and fails. Observed texts: "allowed", "denied (Windows error 5)", "failed
// otherwise (Windows error 3)".
CheckResult attempt(std::string_view id, std::string_view title, Expectation expected,
                    std::uint32_t error,
                    const std::vector<std::uint32_t>& refusals = {kAccessDenied});

// A property that must hold; `observed` says what was seen.
CheckResult property(std::string_view id, std::string_view title, bool holds,
                     std::string_view observed);

// A fact reported as it is.
CheckResult observation(std::string_view id, std::string_view title, std::string_view observed);

// A check this build cannot make.
CheckResult unavailable(std::string_view id, std::string_view title, Expectation expected);

// A check that could not be made although it should have been (its target was missing, the
// probe did not report): a failure for a guard, an observation otherwise.
CheckResult not_reached(std::string_view id, std::string_view title, Expectation expected,
                        std::string_view why);

std::string_view expectation_text(Expectation expected);
std::string_view verdict_text(Verdict verdict);

// Whether a failure of this check means confinement did not hold.
inline bool is_guard(const CheckResult& check) {
    return check.expected != Expectation::observe;
}

// JSON form, both ways; reading throws nlohmann::json::exception (or std::invalid_argument
// for an unknown expectation or verdict) on a malformed element.
nlohmann::json to_json(const CheckResult& check);
CheckResult check_from_json(const nlohmann::json& value);

}  // namespace quarvel::selftest
