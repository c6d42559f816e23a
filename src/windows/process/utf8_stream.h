#pragma once
// Decoding a byte stream that arrives in pieces as UTF-8 text. A character whose bytes are
// split between two pieces is held back until the rest arrives, so that correct output stays
// correct however the pieces fall; only bytes that are really invalid become U+FFFD.

#include <cstddef>
#include <string>
#include <string_view>

namespace quarvel {

class Utf8Stream {
  public:
    // The longest incomplete sequence that can be held back.
    static constexpr std::size_t kMaxHeld = 3;

    // The text of the held-back bytes followed by `piece`: valid sequences unchanged, each
    // maximal invalid subpart replaced by U+FFFD; an incomplete but so far valid sequence at the
    // end is held back for the next piece.
    std::string decode(std::string_view piece);

    // The same text appended to `out` as JSON string contents (append_json_escaped), so that a
    // frame's body is built straight from the bytes read, with no text of its own in between.
    void decode_escaped(std::string_view piece, std::string& out);

    // The end of the stream: a held-back sequence can no longer complete and becomes U+FFFD.
    std::string finish();

    std::size_t held() const { return held_.size(); }

  private:
    // How decoded text reaches the output: as it is, or escaped.
    using Append = void (*)(std::string& out, std::string_view text);

    void decode_with(std::string_view piece, std::string& out, Append append);
    // Completes (or gives up) the held-back character with the first bytes of `piece`, appending
    // it; returns the rest of the piece.
    std::string_view finish_held(std::string_view piece, std::string& out, Append append);
    // Appends the text of `bytes`, valid runs whole, holding back an incomplete sequence at the
    // end.
    void decode_into(std::string_view bytes, std::string& out, Append append);

    std::string held_;
};

}  // namespace quarvel
