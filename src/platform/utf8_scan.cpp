#include "platform/utf8_scan.h"

#include <bit>

#if defined(__SSE2__) || defined(_M_X64)
#include <emmintrin.h>
#define QUARVEL_SCAN_BLOCKS 1
#endif

namespace quarvel {
namespace {

// Text is examined in blocks of sixteen bytes, with SSE2 where it exists (every x86-64
// processor); elsewhere, and for a last block shorter than that, one byte at a time.
constexpr std::size_t kBlockBytes = 16;

bool byte_is_json_plain(unsigned char byte) {
    return byte >= 0x20 && byte != '"' && byte != '\\';
}

#ifdef QUARVEL_SCAN_BLOCKS

__m128i load_block(const char* bytes) {
    return _mm_loadu_si128(reinterpret_cast<const __m128i*>(bytes));
}

// Moves `at` over whole blocks of ASCII; stops at the first other byte, or where less than a
// block is left.
std::size_t skip_ascii_blocks(std::string_view text, std::size_t at) {
    for (; text.size() - at >= kBlockBytes; at += kBlockBytes) {
        if (const int others = _mm_movemask_epi8(load_block(text.data() + at)); others != 0)
            return at + static_cast<std::size_t>(std::countr_zero(static_cast<unsigned>(others)));
    }
    return at;
}

std::uint32_t json_special_bytes_in_whole_block(const char* bytes) {
    const __m128i block = load_block(bytes);
    // Below 0x20, as unsigned bytes: the smaller of the byte and 0x1F is the byte itself.
    const __m128i control = _mm_cmpeq_epi8(_mm_min_epu8(block, _mm_set1_epi8(0x1F)), block);
    const __m128i quote = _mm_cmpeq_epi8(block, _mm_set1_epi8('"'));
    const __m128i backslash = _mm_cmpeq_epi8(block, _mm_set1_epi8('\\'));
    return static_cast<std::uint32_t>(
        _mm_movemask_epi8(_mm_or_si128(control, _mm_or_si128(quote, backslash))));
}

#else

std::size_t skip_ascii_blocks(std::string_view, std::size_t at) {
    return at;
}

#endif

// Bit k set for each byte k of the block at `block` that a JSON string cannot hold as it is.
[[gnu::noinline]] std::uint32_t json_special_bytes_one_by_one(std::string_view text,
                                                              std::size_t block) {
    std::uint32_t marks = 0;
    for (std::size_t k = 0; k < kBlockBytes && block + k < text.size(); ++k) {
        if (!byte_is_json_plain(static_cast<unsigned char>(text[block + k])))
            marks |= std::uint32_t{1} << k;
    }
    return marks;
}

std::uint32_t json_special_bytes(std::string_view text, std::size_t block) {
#ifdef QUARVEL_SCAN_BLOCKS
    if (text.size() - block >= kBlockBytes)
        return json_special_bytes_in_whole_block(text.data() + block);
#endif
    return json_special_bytes_one_by_one(text, block);
}

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

JsonSpecialBytes::JsonSpecialBytes(std::string_view text)
    : text_(text), marks_(json_special_bytes(text, 0)) {}

std::size_t JsonSpecialBytes::next() {
    // The block and its marks stay in registers while blocks without marks go by.
    std::size_t block = block_;
    std::uint32_t marks = marks_;
    while (marks == 0 && text_.size() - block > kBlockBytes) {
        block += kBlockBytes;
        marks = json_special_bytes(text_, block);
    }
    block_ = block;
    if (marks == 0) {
        marks_ = 0;
        return text_.size();
    }
    marks_ = marks & (marks - 1);  // the lowest one is given out now
    return block + static_cast<std::size_t>(std::countr_zero(marks));
}

}  // namespace quarvel
