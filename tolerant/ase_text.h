// The ASE text as the tolerant reader sees it: the bytes decoded to UTF-8 whatever
// their encoding, then cut into tokens (keywords, braces, quoted strings, words),
// each with the number of the line it starts on.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace ase2sgl::tolerant {

// kEightBit: bytes that do not read as UTF-8 (an 8-bit code page such as
// Windows-1252). They are read as they are: the converter reads bytes too.
enum class Encoding { kUtf8, kUtf8WithBom, kUtf16Le, kUtf16Be, kEightBit };
enum class LineEnds { kNone, kLf, kCrLf, kCr, kMixed };

// "UTF-8", "UTF-8 with BOM", "UTF-16 LE", "UTF-16 BE", "8-bit".
const char* EncodingName(Encoding encoding);
// "LF", "CR LF", "CR", "mixed", "none".
const char* LineEndsName(LineEnds ends);

struct DecodedText {
    Encoding encoding = Encoding::kUtf8;
    std::string owned;      // the UTF-8 text when the input had to be converted
    std::string_view text;  // the text to read: `owned`, or a part of the input
};

// UTF-16 (with a byte order mark, or without one when every other byte of the
// start is zero) becomes UTF-8; a UTF-8 byte order mark is dropped; other bytes
// stay as they are, told apart as UTF-8 or not. Never needs more than twice the
// input's size.
DecodedText DecodeText(std::string_view input);

LineEnds DetectLineEnds(std::string_view text);

// The same decoding, a piece of the input at a time, for input read in pieces.
// The encoding is told from the first piece, which must hold the input's first 16
// bytes (or all of it, when it is shorter). UTF-8 and 8-bit text pass as they are
// (told apart later, by IsUtf8 over the text); a UTF-16 code unit or surrogate pair
// cut by a piece's end waits for the next piece.
class PieceDecoder {
  public:
    // Appends the text of the next piece of the input to `out`; `last` for the
    // input's last piece (then a lone byte or high surrogate is read as DecodeText
    // reads it).
    void Decode(std::string_view piece, bool last, std::string& out);
    // kUtf8 for text that is either UTF-8 or 8-bit.
    Encoding TextEncoding() const { return encoding_; }

  private:
    bool started_ = false;
    Encoding encoding_ = Encoding::kUtf8;
    std::string carry_;  // UTF-16 bytes of an unfinished code unit or pair
};

// Well-formed UTF-8 (8-bit text is not).
bool IsUtf8(std::string_view text);

// DetectLineEnds over text given a piece at a time, each piece cut after a line
// end (a CR alone only where the next byte is known not to be an LF).
class LineEndsSeen {
  public:
    void Add(std::string_view piece);
    LineEnds Result() const;

  private:
    bool lf_ = false, crlf_ = false, cr_ = false, stopped_ = false;
};

enum class TokenKind : std::uint8_t { kEnd, kKeyword, kOpen, kClose, kString, kWord };

// 24 bytes: a piece of text is cut into as many tokens as it has words.
struct Token {
    std::string_view text;  // keyword with its star; string without its quotes
    std::int32_t line = 0;  // from 1
    TokenKind kind = TokenKind::kEnd;
};

// Cuts the text into tokens, one at a time. Blanks, tabs, line ends (LF, CR LF or
// CR alone) and NUL bytes separate tokens; a word also ends after a colon, so
// "A:0" reads as "A:" and "0". A quoted string runs to the last double quote of
// its line (or of its statement, when a keyword follows on the same line). A 0x1A byte ends the text, as it does for
// the converter.
// The instructions the tokenizer tells the kinds of many bytes at once with:
// "AVX2" (32 bytes at a time), "SSE2" (16), or "bytes" (one at a time), the same
// tokens from each. AVX2 is used where the processor has it, unless the environment
// variable ASE2SGL_TOKENIZER is "sse2".
const char* TokenizerInstructions();

class Tokenizer {
  public:
    explicit Tokenizer(std::string_view text, std::int32_t firstLine = 1) : text_(text), line_(firstLine) {}
    Token Next();
    // Every token to the end of the text (or its 0x1A byte) appended to `out`, in
    // one loop rather than a call per token; returns the end token, with the line
    // the text ended on.
    Token CutAll(std::vector<Token>& out);
    bool StoppedAtCtrlZ() const { return stoppedAtCtrlZ_; }

  private:
    void NextToken(Token& token);
    void SkipSeparators();
    void CutBlocks(std::vector<Token>& out);
    bool StartsKeyword(std::size_t at) const;
    std::string_view text_;
    std::size_t pos_ = 0;
    std::int32_t line_;
    bool stoppedAtCtrlZ_ = false;
};

}  // namespace ase2sgl::tolerant
