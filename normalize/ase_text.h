// The ASE text as the tolerant reader sees it: the bytes decoded to UTF-8 whatever
// their encoding, then cut into tokens (keywords, braces, quoted strings, words),
// each with the number of the line it starts on.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace ase2sgl::normalize {

enum class Encoding { kUtf8, kUtf8WithBom, kUtf16Le, kUtf16Be };
enum class LineEnds { kNone, kLf, kCrLf, kCr, kMixed };

struct DecodedText {
    Encoding encoding = Encoding::kUtf8;
    std::string owned;      // the UTF-8 text when the input had to be converted
    std::string_view text;  // the text to read: `owned`, or a part of the input
};

// UTF-16 (with a byte order mark, or without one when every other byte of the
// start is zero) becomes UTF-8; a UTF-8 byte order mark is dropped. Never needs
// more than twice the input's size.
DecodedText DecodeText(std::string_view input);

LineEnds DetectLineEnds(std::string_view text);

enum class TokenKind { kEnd, kKeyword, kOpen, kClose, kString, kWord };

struct Token {
    TokenKind kind = TokenKind::kEnd;
    std::string_view text;  // keyword with its star; string without its quotes
    std::int32_t line = 0;  // from 1
};

// Cuts the text into tokens, one at a time. Blanks, tabs, line ends (LF, CR LF or
// CR alone) and NUL bytes separate tokens; a word also ends after a colon, so
// "A:0" reads as "A:" and "0". A quoted string runs to the last double quote of
// its line (or of its statement, when a keyword follows on the same line). A 0x1A byte ends the text, as it does for
// the converter.
class Tokenizer {
  public:
    explicit Tokenizer(std::string_view text) : text_(text) {}
    Token Next();
    bool StoppedAtCtrlZ() const { return stoppedAtCtrlZ_; }

  private:
    void SkipSeparators();
    bool StartsKeyword(std::size_t at) const;
    std::string_view text_;
    std::size_t pos_ = 0;
    std::int32_t line_ = 1;
    bool stoppedAtCtrlZ_ = false;
};

}  // namespace ase2sgl::normalize
