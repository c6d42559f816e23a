#include "com/firewall_rule_values.h"

#include <algorithm>
#include <array>
#include <string>
#include <vector>

namespace winsim {
namespace {

std::vector<std::u16string_view> split(std::u16string_view text, std::u16string_view separators) {
    std::vector<std::u16string_view> parts;
    std::size_t start = 0;
    while (true) {
        const auto end = text.find_first_of(separators, start);
        parts.push_back(text.substr(start, end == std::u16string_view::npos ? end : end - start));
        if (end == std::u16string_view::npos)
            return parts;
        start = end + 1;
    }
}

bool is_digit(char16_t c) {
    return c >= u'0' && c <= u'9';
}

bool all_of(std::u16string_view text, bool (*allowed)(char16_t)) {
    return !text.empty() && std::all_of(text.begin(), text.end(), allowed);
}

bool equal_ignoring_case(std::u16string_view text, std::string_view word) {
    if (text.size() != word.size())
        return false;
    for (std::size_t k = 0; k < text.size(); ++k) {
        char16_t c = text[k];
        if (c >= u'A' && c <= u'Z')
            c = static_cast<char16_t>(c - u'A' + u'a');
        char w = word[k];
        if (w >= 'A' && w <= 'Z')
            w = static_cast<char>(w - 'A' + 'a');
        if (c != static_cast<char16_t>(w))
            return false;
    }
    return true;
}

bool is_port_number(std::u16string_view text) {
    if (!all_of(text, is_digit) || text.size() > 5)
        return false;
    unsigned value = 0;
    for (const char16_t c : text)
        value = value * 10 + static_cast<unsigned>(c - u'0');
    return value <= 65535;
}

bool is_port_keyword(std::u16string_view text) {
    return all_of(text,
                  [](char16_t c) {
                      return (c >= u'A' && c <= u'Z') || (c >= u'a' && c <= u'z') || c == u'-' ||
                             is_digit(c);
                  }) &&
           !is_digit(text.front());
}

bool is_port(std::u16string_view token) {
    if (is_port_number(token) || is_port_keyword(token))
        return true;
    const auto dash = token.find(u'-');
    return dash != std::u16string_view::npos && is_port_number(token.substr(0, dash)) &&
           is_port_number(token.substr(dash + 1));
}

bool is_address_character(char16_t c) {
    return is_digit(c) || (c >= u'a' && c <= u'f') || (c >= u'A' && c <= u'F') || c == u'.' ||
           c == u':' || c == u'/' || c == u'-';
}

bool is_address(std::u16string_view token) {
    static constexpr std::array<std::string_view, 5> kKeywords = {"Defaultgateway", "DHCP", "DNS",
                                                                  "WINS", "LocalSubnet"};
    for (const auto keyword : kKeywords)
        if (equal_ignoring_case(token, keyword))
            return true;
    // An address has digits; a bare "-" or ":" is none.
    return all_of(token, is_address_character) && std::any_of(token.begin(), token.end(), is_digit);
}

bool is_icmp_entry(std::u16string_view token) {
    const auto colon = token.find(u':');
    const auto type = token.substr(0, colon);
    if (!all_of(type, is_digit) || type.size() > 3)
        return false;
    if (colon == std::u16string_view::npos)
        return true;
    const auto code = token.substr(colon + 1);
    return code == u"*" || (all_of(code, is_digit) && code.size() <= 3);
}

}  // namespace

bool protocol_has_ports(LONG protocol) {
    return protocol == 6 || protocol == 17;
}

bool protocol_has_icmp_types(LONG protocol) {
    return protocol == 1 || protocol == 58;
}

bool is_port_list(std::u16string_view text) {
    if (text == u"*")
        return true;
    const auto tokens = split(text, u",");
    return std::all_of(tokens.begin(), tokens.end(), is_port);
}

bool is_icmp_list(std::u16string_view text) {
    if (text == u"*")
        return true;
    const auto tokens = split(text, u";,");
    return std::all_of(tokens.begin(), tokens.end(), is_icmp_entry);
}

bool is_address_list(std::u16string_view text) {
    if (text == u"*")
        return true;
    const auto tokens = split(text, u",");
    return std::all_of(tokens.begin(), tokens.end(), is_address);
}

bool is_interface_type_list(std::u16string_view text) {
    if (equal_ignoring_case(text, "All"))
        return true;
    const auto tokens = split(text, u",");
    return std::all_of(tokens.begin(), tokens.end(), [](std::u16string_view token) {
        return equal_ignoring_case(token, "RemoteAccess") ||
               equal_ignoring_case(token, "Wireless") || equal_ignoring_case(token, "Lan");
    });
}

}  // namespace winsim
