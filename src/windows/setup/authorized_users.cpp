#include "windows/setup/authorized_users.h"

#include <charconv>
#include <optional>
#include <vector>

namespace quarvel {
namespace {

// The firewall's right to match a rule to traffic (FWP_ACTRL_MATCH_FILTER), written CC in SDDL.
constexpr unsigned long kMatchRight = 0x1;

// The text of an SDDL string split where a separator stands outside parentheses and quotes:
// conditional entries carry expressions in both.
class SddlScanner {
  public:
    explicit SddlScanner(std::string_view text) : text_(text) {}

    // The index just after the parenthesis that closes the one at `open`, or nothing.
    std::optional<std::size_t> after_closing(std::size_t open) const {
        int depth = 0;
        bool quoted = false;
        for (std::size_t k = open; k < text_.size(); ++k) {
            const char c = text_[k];
            if (c == '"')
                quoted = !quoted;
            else if (!quoted && c == '(')
                ++depth;
            else if (!quoted && c == ')' && --depth == 0)
                return k + 1;
        }
        return std::nullopt;
    }

    // The parts between top-level `separator`s.
    std::vector<std::string_view> split(char separator) const {
        std::vector<std::string_view> parts;
        int depth = 0;
        bool quoted = false;
        std::size_t start = 0;
        for (std::size_t k = 0; k < text_.size(); ++k) {
            const char c = text_[k];
            if (c == '"')
                quoted = !quoted;
            else if (!quoted && c == '(')
                ++depth;
            else if (!quoted && c == ')')
                --depth;
            else if (!quoted && depth == 0 && c == separator) {
                parts.push_back(text_.substr(start, k - start));
                start = k + 1;
            }
        }
        parts.push_back(text_.substr(start));
        return parts;
    }

  private:
    std::string_view text_;
};

bool is_component_tag(std::string_view sddl, std::size_t at) {
    const char c = sddl[at];
    return (c == 'O' || c == 'G' || c == 'D' || c == 'S') && at + 1 < sddl.size() &&
           sddl[at + 1] == ':';
}

// The body of the discretionary list ("D:"): the text from after its tag up to the next
// component (O:, G:, S:) at the top level. An owner or group is a SID or a two-letter alias,
// neither of which holds a colon, so a letter before a colon outside the entries is a tag.
std::optional<std::string_view> dacl_text(std::string_view sddl) {
    if (sddl.empty() || !is_component_tag(sddl, 0))
        return std::nullopt;
    std::optional<std::string_view> dacl;
    std::size_t k = 0;
    while (k < sddl.size()) {
        const char tag = sddl[k];
        const std::size_t start = k + 2;
        std::size_t end = start;
        while (end < sddl.size() && !is_component_tag(sddl, end)) {
            if (sddl[end] == '(') {
                const auto after = SddlScanner(sddl).after_closing(end);
                if (!after)
                    return std::nullopt;
                end = *after;
            } else {
                ++end;
            }
        }
        if (tag == 'D') {
            if (dacl)
                return std::nullopt;  // two discretionary lists
            dacl = sddl.substr(start, end - start);
        }
        k = end;
    }
    return dacl;
}

// The entries "(...)" of a discretionary list's body, each without its parentheses, after the
// list's flags (P, AI, AR, ...). A null list (NO_ACCESS_CONTROL) or stray text gives nothing.
std::optional<std::vector<std::string_view>> entries_of(std::string_view dacl) {
    const std::size_t first = dacl.find('(');
    const std::string_view flags = dacl.substr(0, first);
    if (flags.find("NO_ACCESS_CONTROL") != std::string_view::npos)
        return std::nullopt;
    std::vector<std::string_view> entries;
    std::size_t k = first;
    while (k != std::string_view::npos && k < dacl.size()) {
        if (dacl[k] != '(')
            return std::nullopt;
        const auto after = SddlScanner(dacl).after_closing(k);
        if (!after)
            return std::nullopt;
        entries.push_back(dacl.substr(k + 1, *after - k - 2));
        k = *after;
    }
    return entries;
}

// Whether a run of two-letter SDDL codes ("OICIIO", "CCDC") holds `code`.
bool holds_code(std::string_view codes, std::string_view code) {
    if (codes.size() % 2 != 0)
        return false;
    for (std::size_t k = 0; k < codes.size(); k += 2)
        if (codes.substr(k, 2) == code)
            return true;
    return false;
}

// Rights are two-letter codes ("CC") or a hexadecimal mask ("0x1").
bool grants_match(std::string_view rights) {
    if (!rights.starts_with("0x") && !rights.starts_with("0X"))
        return holds_code(rights, "CC");
    const std::string_view digits = rights.substr(2);
    unsigned long mask = 0;
    const auto parsed = std::from_chars(digits.data(), digits.data() + digits.size(), mask, 16);
    return !digits.empty() && parsed.ec == std::errc() &&
           parsed.ptr == digits.data() + digits.size() && (mask & kMatchRight) != 0;
}

// One entry, "type;flags;rights;object;inherited object;SID[;condition]": whether it is an
// allow entry for exactly `sid` that applies to the rule and grants the match right.
bool allows_user(const std::vector<std::string_view>& fields, std::string_view sid) {
    // The SID text is compared exactly, as the rule's test always has been: setup writes the
    // canonical form (upper-case S, decimal parts), the form Windows also gives back, and a
    // list that spells the SID in some other way is not taken as proof that Windows reads it
    // as the account; setup rewrites it.
    return fields[5] == sid && !holds_code(fields[1], "IO") && grants_match(fields[2]);
}

}  // namespace

bool authorizes_user(std::string_view sddl, std::string_view sid) {
    if (sid.empty())
        return false;
    const auto dacl = dacl_text(sddl);
    if (!dacl)
        return false;
    const auto entries = entries_of(*dacl);
    if (!entries)
        return false;
    bool allowed = false;
    for (const auto entry : *entries) {
        const auto fields = SddlScanner(entry).split(';');
        if (fields.size() < 6 || fields[0] != "A")
            return false;
        allowed = allowed || allows_user(fields, sid);
    }
    return allowed;
}

}  // namespace quarvel
