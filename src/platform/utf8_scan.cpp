#include "platform/utf8_scan.h"

#include <bit>

#if defined(__SSE2__) || defined(_M_X64)
#include <emmintrin.h>
#define QUARVEL_SCAN_BLOCKS 1
#endif

namespace quarvel {
namespace {

bool byte_is_json_plain(unsigned char byte) {
    return byte >= 0x20 && byte != '"' && byte != '\\';
}

#ifdef QUARVEL_SCAN_BLOCKS

// Sixteen bytes at a time where SSE2 exists (every x86-64 processor); elsewhere, and for the last
// few bytes, one byte at a time. Each mask has bit k set for byte k of the block.
constexpr std::size_t kBlockBytes = 16;

__m128i load_block(const char* bytes) {
    return _mm_loadu_si128(reinterpret_cast<const __m128i*>(bytes));
}

unsigned non_ascii_bytes(__m128i block) {
    return static_cast<unsigned>(_mm_movemask_epi8(block));
}

unsigned json_special_bytes(__m128i block) {
    // Compared as signed, every byte from 0x80 up is below 0x20 too; those pass as they are.
    const __m128i below_space = _mm_andnot_si128(_mm_cmplt_epi8(block, _mm_setzero_si128()),
                                                 _mm_cmplt_epi8(block, _mm_set1_epi8(0x20)));
    const __m128i quote = _mm_cmpeq_epi8(block, _mm_set1_epi8('"'));
    const __m128i backslash = _mm_cmpeq_epi8(block, _mm_set1_epi8('\\'));
    return static_cast<unsigned>(
        _mm_movemask_epi8(_mm_or_si128(below_space, _mm_or_si128(quote, backslash))));
}

// Moves `at` over whole blocks in which `marks` marks nothing and stops at the first marked
// byte, or where less than a block is left.
template <class Marks>
std::size_t skip_blocks(std::string_view text, std::size_t at, Marks marks) {
    for (; text.size() - at >= kBlockBytes; at += kBlockBytes) {
        if (const unsigned marked = marks(load_block(text.data() + at)); marked != 0)
            return at + static_cast<std::size_t>(std::countr_zero(marked));
    }
    return at;
}

std::size_t skip_ascii_blocks(std::string_view text, std::size_t at) {
    return skip_blocks(text, at, non_ascii_bytes);
}

std::size_t skip_json_plain_blocks(std::string_view text, std::size_t at) {
    return skip_blocks(text, at, json_special_bytes);
}

#else

std::size_t skip_ascii_blocks(std::string_view, std::size_t at) {
    return at;
}

std::size_t skip_json_plain_blocks(std::string_view, std::size_t at) {
    return at;
}

#endif

// Moves `at` past ASCII bytes.
std::size_t skip_ascii(std::string_view text, std::size_t at) {
    at = skip_ascii_blocks(text, at);
    while (at < text.size() && static_cast<unsigned char>(text[at]) < 0x80)
        ++at;
    return at;
}

// The length of the well-formed sequence that starts at `at`, or 0.
std::size_t sequence_length_at(std::string_view text, std::size_t at) {
    const auto shape = utf8_sequence_shape(static_cast<std::uint8_t>(text[at]));
    if (shape.length == 0 || text.size() - at < shape.length)
        return 0;
    for (std::size_t k = 1; k < shape.length; ++k) {
        const auto byte = static_cast<std::uint8_t>(text[at + k]);
        const std::uint8_t low = k == 1 ? shape.second_low : 0x80;
        const std::uint8_t high = k == 1 ? shape.second_high : 0xBF;
        if (byte < low || byte > high)
            return 0;
    }
    return shape.length;
}

}  // namespace

Utf8SequenceShape utf8_sequence_shape(std::uint8_t lead) {
    if (lead < 0x80)
        return {1};
    if (lead >= 0xC2 && lead <= 0xDF)
        return {2};
    if (lead == 0xE0)
        return {3, 0xA0, 0xBF};
    if (lead == 0xED)
        return {3, 0x80, 0x9F};
    if (lead >= 0xE1 && lead <= 0xEF)
        return {3};
    if (lead == 0xF0)
        return {4, 0x90, 0xBF};
    if (lead >= 0xF1 && lead <= 0xF3)
        return {4};
    if (lead == 0xF4)
        return {4, 0x80, 0x8F};
    return {};
}

std::size_t valid_utf8_prefix(std::string_view text) {
    std::size_t at = skip_ascii(text, 0);
    while (at < text.size()) {
        const std::size_t length = sequence_length_at(text, at);
        if (length == 0)
            break;
        at = skip_ascii(text, at + length);
    }
    return at;
}

std::size_t json_plain_prefix(std::string_view text) {
    std::size_t at = skip_json_plain_blocks(text, 0);
    while (at < text.size() && byte_is_json_plain(static_cast<unsigned char>(text[at])))
        ++at;
    return at;
}

}  // namespace quarvel
