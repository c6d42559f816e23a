#include "platform/wide_text.h"

#include "platform/utf8_scan.h"

namespace quarvel {
namespace {

constexpr char32_t kReplacement = 0xFFFD;

bool is_high_surrogate(char32_t unit) {
    return unit >= 0xD800 && unit <= 0xDBFF;
}
bool is_low_surrogate(char32_t unit) {
    return unit >= 0xDC00 && unit <= 0xDFFF;
}

void append_utf8(std::string& out, char32_t c) {
    if (c < 0x80) {
        out += static_cast<char>(c);
    } else if (c < 0x800) {
        out += static_cast<char>(0xC0 | (c >> 6));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
        out += static_cast<char>(0xE0 | (c >> 12));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (c >> 18));
        out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    }
}

// Decodes UTF-16; returns false at the first unpaired surrogate when `strict`.
bool narrow_into(std::string& out, WideView text, bool strict) {
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        char32_t unit = static_cast<char16_t>(text[i]);
        if (is_high_surrogate(unit) && i + 1 < text.size() &&
            is_low_surrogate(static_cast<char16_t>(text[i + 1]))) {
            const char32_t low = static_cast<char16_t>(text[++i]);
            append_utf8(out, 0x10000 + ((unit - 0xD800) << 10) + (low - 0xDC00));
        } else if (is_high_surrogate(unit) || is_low_surrogate(unit)) {
            if (strict)
                return false;
            append_utf8(out, kReplacement);
        } else {
            append_utf8(out, unit);
        }
    }
    return true;
}

}  // namespace

std::string narrow_lossy(WideView text) {
    std::string out;
    narrow_into(out, text, false);
    return out;
}

std::optional<std::string> narrow_strict(WideView text) {
    std::string out;
    if (!narrow_into(out, text, true))
        return std::nullopt;
    return out;
}

std::optional<char32_t> next_utf8_character(std::string_view text, std::size_t& position) {
    const auto lead = static_cast<unsigned char>(text[position]);
    std::size_t length = 0;
    char32_t c = 0;
    if (lead < 0x80) {
        ++position;
        return lead;
    } else if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
        c = lead & 0x1F;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        c = lead & 0x0F;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        c = lead & 0x07;
    }
    bool valid = length > 0 && position + length <= text.size();
    for (std::size_t k = 1; valid && k < length; ++k) {
        const auto next = static_cast<unsigned char>(text[position + k]);
        valid = (next & 0xC0) == 0x80;
        c = (c << 6) | (next & 0x3F);
    }
    constexpr char32_t kMinimum[] = {0, 0, 0x80, 0x800, 0x10000};
    if (valid && (c < kMinimum[length] || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)))
        valid = false;
    if (!valid) {
        ++position;
        return std::nullopt;
    }
    position += length;
    return c;
}

bool is_valid_utf8(std::string_view text) {
    return valid_utf8_prefix(text) == text.size();
}

WideString to_wide(std::string_view utf8) {
    WideString out;
    out.reserve(utf8.size());
    std::size_t position = 0;
    while (position < utf8.size()) {
        char32_t c = next_utf8_character(utf8, position).value_or(kReplacement);
        if (c < 0x10000) {
            out += static_cast<WCHAR>(c);
        } else {
            c -= 0x10000;
            out += static_cast<WCHAR>(0xD800 + (c >> 10));
            out += static_cast<WCHAR>(0xDC00 + (c & 0x3FF));
        }
    }
    return out;
}

}  // namespace quarvel
