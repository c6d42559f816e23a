#include "security/sddl.h"

#include <cctype>
#include <charconv>

#include "security/sid.h"

namespace winsim {
namespace {

struct Code {
    std::string_view text;
    DWORD value;
};

constexpr Code kRights[] = {
    {"GA", GENERIC_ALL},
    {"GR", GENERIC_READ},
    {"GW", GENERIC_WRITE},
    {"GX", GENERIC_EXECUTE},
    {"RC", READ_CONTROL},
    {"SD", DELETE},
    {"WD", WRITE_DAC},
    {"WO", WRITE_OWNER},
    {"RP", 0x10},
    {"WP", 0x20},
    {"CC", 0x1},
    {"DC", 0x2},
    {"LC", 0x4},
    {"SW", 0x8},
    {"LO", 0x80},
    {"DT", 0x40},
    {"CR", 0x100},
    {"FA", FILE_ALL_ACCESS},
    {"FR", FILE_GENERIC_READ},
    {"FW", FILE_GENERIC_WRITE},
    {"FX", FILE_GENERIC_EXECUTE},
    {"KA", 0xF003F},
    {"KR", 0x20019},
    {"KW", 0x20006},
    {"KX", 0x20019},
};

constexpr Code kAceFlags[] = {
    {"OI", OBJECT_INHERIT_ACE}, {"CI", CONTAINER_INHERIT_ACE}, {"NP", NO_PROPAGATE_INHERIT_ACE},
    {"IO", INHERIT_ONLY_ACE},   {"ID", INHERITED_ACE},
};

constexpr Code kDaclFlags[] = {
    {"P", SE_DACL_PROTECTED},
    {"AI", SE_DACL_AUTO_INHERITED},
    {"AR", SE_DACL_AUTO_INHERIT_REQ},
};

// Reads a run of codes from the table ("OICI", "GAGR", "PAI"), longest first at each step.
std::optional<DWORD> read_codes(std::string_view text, const auto& table) {
    DWORD value = 0;
    while (!text.empty()) {
        const Code* match = nullptr;
        for (const auto& code : table) {
            if (text.starts_with(code.text) &&
                (match == nullptr || code.text.size() > match->text.size()))
                match = &code;
        }
        if (match == nullptr)
            return std::nullopt;
        value |= match->value;
        text.remove_prefix(match->text.size());
    }
    return value;
}

std::optional<DWORD> read_rights(std::string_view text) {
    if (text.starts_with("0x") || text.starts_with("0X")) {
        DWORD value = 0;
        const auto digits = text.substr(2);
        const auto [end, error] =
            std::from_chars(digits.data(), digits.data() + digits.size(), value, 16);
        if (digits.empty() || error != std::errc() || end != digits.data() + digits.size())
            return std::nullopt;
        return value;
    }
    if (text.empty())
        return std::nullopt;
    return read_codes(text, kRights);
}

std::optional<std::string> read_sid_text(std::string_view text) {
    const auto sid = sid_from_text(text);
    if (!sid)
        return std::nullopt;
    return sid_text(sid->data());
}

std::vector<std::string_view> split(std::string_view text, char separator) {
    std::vector<std::string_view> fields;
    for (;;) {
        const auto at = text.find(separator);
        fields.push_back(text.substr(0, at));
        if (at == std::string_view::npos)
            return fields;
        text.remove_prefix(at + 1);
    }
}

// "(type;flags;rights;object guid;inherited object guid;sid)" without the parentheses.
std::optional<AccessEntry> read_ace(std::string_view text) {
    const auto fields = split(text, ';');
    if (fields.size() != 6 || !fields[3].empty() || !fields[4].empty())
        return std::nullopt;
    AccessEntry entry;
    if (fields[0] == "A")
        entry.type = ACCESS_ALLOWED_ACE_TYPE;
    else if (fields[0] == "D")
        entry.type = ACCESS_DENIED_ACE_TYPE;
    else
        return std::nullopt;
    const auto flags = read_codes(fields[1], kAceFlags);
    const auto rights = read_rights(fields[2]);
    auto sid = read_sid_text(fields[5]);
    if (!flags || !rights || !sid)
        return std::nullopt;
    entry.flags = static_cast<BYTE>(*flags);
    entry.mask = *rights;
    entry.sid = std::move(*sid);
    return entry;
}

// The DACL component after "D:": flags, then each ACE in parentheses.
bool read_dacl(std::string_view text, SecurityDescription& description) {
    const auto first_ace = text.find('(');
    const auto flags = read_codes(text.substr(0, first_ace), kDaclFlags);
    if (!flags)
        return false;
    description.control |= static_cast<WORD>(*flags | SE_DACL_PRESENT);
    std::vector<AccessEntry> entries;
    text.remove_prefix(first_ace == std::string_view::npos ? text.size() : first_ace);
    while (!text.empty()) {
        const auto close = text.find(')');
        if (text.front() != '(' || close == std::string_view::npos)
            return false;
        auto entry = read_ace(text.substr(1, close - 1));
        if (!entry)
            return false;
        entries.push_back(std::move(*entry));
        text.remove_prefix(close + 1);
    }
    description.dacl = std::move(entries);
    return true;
}

// Where the next component ("O:", "G:", "D:", "S:") begins; SIDs and ACE bodies never hold a
// letter followed by a colon outside parentheses.
std::size_t next_component(std::string_view text, std::size_t from) {
    int depth = 0;
    for (std::size_t at = from; at < text.size(); ++at) {
        if (text[at] == '(')
            ++depth;
        if (text[at] == ')')
            --depth;
        if (depth == 0 && at + 1 < text.size() && text[at + 1] == ':' &&
            std::string_view("OGDS").find(text[at]) != std::string_view::npos)
            return at;
    }
    return text.size();
}

}  // namespace

std::expected<SecurityDescription, DWORD> parse_sddl(std::string_view text) {
    SecurityDescription description;
    bool seen_owner = false, seen_group = false, seen_dacl = false;
    std::size_t at = 0;
    if (text.empty())
        return std::unexpected(ERROR_INVALID_PARAMETER);
    while (at < text.size()) {
        if (at + 1 >= text.size() || text[at + 1] != ':')
            return std::unexpected(ERROR_INVALID_PARAMETER);
        const char kind = text[at];
        const std::size_t end = next_component(text, at + 2);
        const auto body = text.substr(at + 2, end - at - 2);
        switch (kind) {
            case 'O':
                if (seen_owner)
                    return std::unexpected(ERROR_INVALID_PARAMETER);
                if (!(description.owner = read_sid_text(body)))
                    return std::unexpected(ERROR_INVALID_SID);
                seen_owner = true;
                break;
            case 'G':
                if (seen_group)
                    return std::unexpected(ERROR_INVALID_PARAMETER);
                if (!(description.group = read_sid_text(body)))
                    return std::unexpected(ERROR_INVALID_SID);
                seen_group = true;
                break;
            case 'D':
                if (seen_dacl)
                    return std::unexpected(ERROR_INVALID_PARAMETER);
                if (!read_dacl(body, description))
                    return std::unexpected(ERROR_INVALID_ACL);
                seen_dacl = true;
                break;
            default:  // a SACL, or no component at all
                return std::unexpected(ERROR_INVALID_PARAMETER);
        }
        at = end;
    }
    return description;
}

}  // namespace winsim
