#pragma once
// Argument vectors for round-trip tests of command-line quoting: built from the pieces that
// make quoting hard (every White_Space character, double quotes, runs of backslashes before
// quotes and at the end, empty arguments, non-ASCII text), reproducibly from a fixed seed.
// Header-only, because both the host and the Wine test binaries use it.

#include <cstdint>
#include <string>
#include <vector>

namespace quarvel::testing {

class ArgumentVectorGenerator {
  public:
    explicit ArgumentVectorGenerator(std::uint64_t seed) : state_(seed) {}

    // The program first (plain: CommandLineToArgvW reads it without escape processing), then
    // zero to seven arguments.
    std::vector<std::string> next() {
        std::vector<std::string> vector = {kPrograms[pick(std::size(kPrograms))]};
        const std::size_t count = pick(8);
        for (std::size_t k = 0; k < count; ++k)
            vector.push_back(argument());
        return vector;
    }

  private:
    static constexpr const char* kPrograms[] = {"prog", "C:\\tools\\run.exe", "pr\u00F6gram",
                                                "\u7A0B\u5E8F.exe", "a\\b\\"};
    static constexpr const char* kPieces[] = {
        // The Unicode White_Space set.
        "\t", "\n", "\v", "\f", "\r", " ", "\u0085", "\u00A0", "\u1680", "\u2000", "\u2001",
        "\u2002", "\u2003", "\u2004", "\u2005", "\u2006", "\u2007", "\u2008", "\u2009", "\u200A",
        "\u2028", "\u2029", "\u202F", "\u205F", "\u3000",
        // Quotes and backslashes, alone and in the combinations the rules treat specially.
        "\"", "\"\"", "\"\"\"", "\\", "\\\\", "\\\\\\", "\\\"", "\\\\\"", "\\\\\\\"",
        // Ordinary and non-ASCII text.
        "a", "Z", "0", "-", "/", "=", ":", "\u00E9", "\u4E2D", "\U0001F600", "\u200B", "long text"};

    std::size_t pick(std::size_t bound) {
        // xorshift64*: the same sequence on every compiler and library.
        state_ ^= state_ >> 12;
        state_ ^= state_ << 25;
        state_ ^= state_ >> 27;
        return static_cast<std::size_t>((state_ * 0x2545F4914F6CDD1Dull) >> 33) % bound;
    }

    std::string argument() {
        if (pick(8) == 0)
            return "";
        std::string text;
        const std::size_t pieces = 1 + pick(7);
        for (std::size_t k = 0; k < pieces; ++k)
            text += kPieces[pick(std::size(kPieces))];
        // Backslashes at the very end are the other case that needs doubling.
        if (pick(4) == 0)
            text.append(1 + pick(4), '\\');
        return text;
    }

    std::uint64_t state_;
};

}  // namespace quarvel::testing
