// Decoding of the ASE bytes to UTF-8 text, and the tokenizer over that text.
#include "tolerant/ase_text.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cctype>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <limits>

// SSE2 is part of every x86-64 processor: there the tokenizer tells the kind of 64
// bytes at a time. Elsewhere it reads a byte at a time, with the same tokens.
#if defined(__SSE2__) || defined(_M_X64)
#define ASE2SGL_TOKENIZER_SSE2 1
#include <emmintrin.h>
// Where the compiler can build code for a later instruction set than the one the
// program targets, the processors with AVX2 tell the kind of 32 bytes at a time.
#if defined(__GNUC__) && (defined(__x86_64__) || defined(__i386__))
#define ASE2SGL_TOKENIZER_AVX2 1
#include <immintrin.h>
#endif
#endif

namespace ase2sgl::tolerant {
namespace {

bool LooksLikeUtf16(std::string_view input, bool littleEndian)
{
    // Without a byte order mark: ASE text starts with ASCII ('*'), so one byte of
    // each of the first code units is zero and the other is not.
    const std::size_t units = std::min<std::size_t>(input.size() / 2, 8);
    if (units < 2)
        return false;
    for (std::size_t i = 0; i < units; ++i) {
        const char high = input[2 * i + (littleEndian ? 1 : 0)];
        const char low = input[2 * i + (littleEndian ? 0 : 1)];
        if (high != '\0' || low == '\0')
            return false;
    }
    return true;
}

void AppendUtf8(std::string& out, std::uint32_t codePoint)
{
    if (codePoint < 0x80) {
        out += static_cast<char>(codePoint);
    } else if (codePoint < 0x800) {
        out += static_cast<char>(0xC0 | (codePoint >> 6));
        out += static_cast<char>(0x80 | (codePoint & 0x3F));
    } else if (codePoint < 0x10000) {
        out += static_cast<char>(0xE0 | (codePoint >> 12));
        out += static_cast<char>(0x80 | ((codePoint >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (codePoint & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (codePoint >> 18));
        out += static_cast<char>(0x80 | ((codePoint >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((codePoint >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (codePoint & 0x3F));
    }
}

// Appends the UTF-8 of the UTF-16 code units in `bytes`. Unless `last`, a high
// surrogate at the end (its pair may follow) and an odd byte are left unread: the
// number of bytes read is returned.
std::size_t Utf16ToUtf8(std::string_view bytes, bool littleEndian, bool last, std::string& out)
{
    auto unitAt = [&](std::size_t i) {
        const auto first = static_cast<unsigned char>(bytes[2 * i]);
        const auto second = static_cast<unsigned char>(bytes[2 * i + 1]);
        return littleEndian ? static_cast<std::uint32_t>(first | (second << 8))
                            : static_cast<std::uint32_t>((first << 8) | second);
    };
    const std::size_t units = bytes.size() / 2;  // an odd last byte is no code unit
    out.reserve(out.size() + units + units / 2);  // at most three bytes of UTF-8 per two of UTF-16
    for (std::size_t i = 0; i < units; ++i) {
        const std::uint32_t unit = unitAt(i);
        if (unit >= 0xD800 && unit < 0xDC00 && i + 1 == units && !last)
            return 2 * i;
        if (unit >= 0xD800 && unit < 0xDC00 && i + 1 < units) {
            const std::uint32_t next = unitAt(i + 1);
            if (next >= 0xDC00 && next < 0xE000) {
                AppendUtf8(out, 0x10000 + ((unit - 0xD800) << 10) + (next - 0xDC00));
                ++i;
                continue;
            }
        }
        AppendUtf8(out, unit >= 0xD800 && unit < 0xE000 ? 0xFFFDu : unit);
    }
    return last ? bytes.size() : 2 * units;
}

std::string Utf16ToUtf8(std::string_view bytes, bool littleEndian)
{
    std::string out;
    Utf16ToUtf8(bytes, littleEndian, true, out);
    return out;
}

}  // namespace

// Well-formed UTF-8: every lead byte followed by the continuation bytes it
// announces, no overlong two-byte form, nothing above U+10FFFF. Plain ASCII, the
// bulk of any ASE file, is passed over 64 bytes at a time (with SSE2; eight
// elsewhere, and where the next 64 bytes are not all ASCII).
bool IsUtf8(std::string_view text)
{
    const auto* p = reinterpret_cast<const unsigned char*>(text.data());
    const auto* end = p + text.size();
    while (p < end) {
#ifdef ASE2SGL_TOKENIZER_SSE2
        if (end - p >= 64) {
            const auto load = [&](int i) { return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 16 * i)); };
            const __m128i any = _mm_or_si128(_mm_or_si128(load(0), load(1)), _mm_or_si128(load(2), load(3)));
            if (_mm_movemask_epi8(any) == 0) {
                p += 64;
                continue;
            }
        }
#endif
        if (end - p >= 8) {
            std::uint64_t word = 0;
            std::memcpy(&word, p, 8);
            if ((word & 0x8080808080808080ull) == 0) {
                p += 8;
                continue;
            }
        }
        const unsigned char lead = *p++;
        if (lead < 0x80)
            continue;
        const int more = lead >= 0xC2 && lead <= 0xDF ? 1 : lead >= 0xE0 && lead <= 0xEF ? 2 : lead >= 0xF0 && lead <= 0xF4 ? 3 : -1;
        if (more < 0 || end - p < more)
            return false;
        for (int i = 0; i < more; ++i)
            if ((*p++ & 0xC0) != 0x80)
                return false;
    }
    return true;
}

namespace {

// What each byte is to the tokenizer, looked up rather than compared in turn.
enum ByteClass : unsigned char { kPartOfWord = 0, kSeparator = 1, kEndOfWord = 2 };

constexpr std::array<unsigned char, 256> kByteClass = [] {
    std::array<unsigned char, 256> table{};
    for (const char c : {' ', '\t', '\r', '\n', '\0', '\v', '\f'})
        table[static_cast<unsigned char>(c)] = kSeparator | kEndOfWord;
    for (const char c : {'{', '}', '"', '\x1a'})
        table[static_cast<unsigned char>(c)] = kEndOfWord;
    return table;
}();

bool IsSeparator(char c)
{
    return (kByteClass[static_cast<unsigned char>(c)] & kSeparator) != 0;
}

bool EndsWord(char c)
{
    return (kByteClass[static_cast<unsigned char>(c)] & kEndOfWord) != 0;
}

#ifdef ASE2SGL_TOKENIZER_SSE2
__m128i Equal(__m128i bytes, char c)
{
    return _mm_cmpeq_epi8(bytes, _mm_set1_epi8(c));
}

std::uint64_t Bits(__m128i bytes, int shift)
{
    return std::uint64_t{static_cast<unsigned>(_mm_movemask_epi8(bytes))} << shift;
}

// What the tokenizer needs to know of 64 bytes, a bit a byte (bit i for byte i).
struct BlockBits {
    std::uint64_t separators = 0;  // blank, tab, LF, VT, FF, CR, NUL
    std::uint64_t wordEnds = 0;    // separators, braces, double quotes, 0x1A
    std::uint64_t others = 0;      // the word ends that are no separators
    std::uint64_t colons = 0, stars = 0;
    std::uint64_t lineEnds = 0;  // LF, and CR without an LF after it
};

// The bits told by the others, with the LFs and CRs of the block: a CR followed by
// an LF is one line end, counted at the LF. `lfAfter`: the byte after the block is
// an LF.
void EndsOfBlock(BlockBits& bits, std::uint64_t lf, std::uint64_t cr, bool lfAfter)
{
    bits.wordEnds = bits.separators | bits.others;
    bits.lineEnds = lf | (cr & ~((lf >> 1) | (lfAfter ? std::uint64_t{1} << 63 : 0)));
}

// The bits of the 64 bytes at `p`; `lfAfter`: the byte after them is an LF.
BlockBits ClassifyBlock(const char* p, bool lfAfter)
{
    BlockBits bits;
    std::uint64_t lf = 0, cr = 0;
    for (int i = 0; i < 4; ++i) {
        const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 16 * i));
        // Tab, LF, VT, FF and CR are the codes 9 to 13: one range.
        const __m128i fromTab = _mm_sub_epi8(bytes, _mm_set1_epi8('\t'));
        const __m128i tabToCr = _mm_cmpeq_epi8(_mm_min_epu8(fromTab, _mm_set1_epi8(4)), fromTab);
        const __m128i separators = _mm_or_si128(tabToCr, _mm_or_si128(Equal(bytes, ' '), Equal(bytes, '\0')));
        const __m128i others = _mm_or_si128(_mm_or_si128(Equal(bytes, '{'), Equal(bytes, '}')),
                                            _mm_or_si128(Equal(bytes, '"'), Equal(bytes, '\x1a')));
        const int shift = 16 * i;
        bits.separators |= Bits(separators, shift);
        bits.others |= Bits(others, shift);
        bits.colons |= Bits(Equal(bytes, ':'), shift);
        bits.stars |= Bits(Equal(bytes, '*'), shift);
        lf |= Bits(Equal(bytes, '\n'), shift);
        cr |= Bits(Equal(bytes, '\r'), shift);
    }
    EndsOfBlock(bits, lf, cr, lfAfter);
    return bits;
}

#ifdef ASE2SGL_TOKENIZER_AVX2
[[gnu::target("avx2")]] __m256i Equal32(__m256i bytes, char c)
{
    return _mm256_cmpeq_epi8(bytes, _mm256_set1_epi8(c));
}

[[gnu::target("avx2")]] std::uint64_t Bits32(__m256i bytes, int shift)
{
    return std::uint64_t{static_cast<unsigned>(_mm256_movemask_epi8(bytes))} << shift;
}

// ClassifyBlock with AVX2: the same bits, from two loads of 32 bytes. The steps are
// ClassifyBlock's, written again with the 32-byte intrinsics rather than shared
// through a template: those only inline into a function compiled for AVX2, and the
// target is a property of the function, not of a template's instantiation.
[[gnu::target("avx2")]] BlockBits ClassifyBlockAvx2(const char* p, bool lfAfter)
{
    BlockBits bits;
    std::uint64_t lf = 0, cr = 0;
    for (int i = 0; i < 2; ++i) {
        const __m256i bytes = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p + 32 * i));
        const __m256i fromTab = _mm256_sub_epi8(bytes, _mm256_set1_epi8('\t'));
        const __m256i tabToCr = _mm256_cmpeq_epi8(_mm256_min_epu8(fromTab, _mm256_set1_epi8(4)), fromTab);
        const __m256i separators =
            _mm256_or_si256(tabToCr, _mm256_or_si256(Equal32(bytes, ' '), Equal32(bytes, '\0')));
        const __m256i others = _mm256_or_si256(_mm256_or_si256(Equal32(bytes, '{'), Equal32(bytes, '}')),
                                               _mm256_or_si256(Equal32(bytes, '"'), Equal32(bytes, '\x1a')));
        const int shift = 32 * i;
        bits.separators |= Bits32(separators, shift);
        bits.others |= Bits32(others, shift);
        bits.colons |= Bits32(Equal32(bytes, ':'), shift);
        bits.stars |= Bits32(Equal32(bytes, '*'), shift);
        lf |= Bits32(Equal32(bytes, '\n'), shift);
        cr |= Bits32(Equal32(bytes, '\r'), shift);
    }
    EndsOfBlock(bits, lf, cr, lfAfter);
    return bits;
}
#endif

using BlockClassifier = BlockBits (*)(const char* p, bool lfAfter);

// The fastest way this processor has to tell the kind of 64 bytes (or the one
// the environment asks for).
BlockClassifier ChosenClassifier()
{
#ifdef ASE2SGL_TOKENIZER_AVX2
    static const BlockClassifier chosen = [] {
        const char* const asked = std::getenv("ASE2SGL_TOKENIZER");
        if (asked != nullptr && std::string_view(asked) == "sse2")
            return ClassifyBlock;
        __builtin_cpu_init();
        return __builtin_cpu_supports("avx2") ? ClassifyBlockAvx2 : ClassifyBlock;
    }();
    return chosen;
#else
    return ClassifyBlock;
#endif
}

using LineCount = std::int64_t;  // past the largest line number a token holds

std::int32_t LineNumber(LineCount line)
{
    return static_cast<std::int32_t>(std::min<LineCount>(line, std::numeric_limits<std::int32_t>::max()));
}

// The words and keywords of one block of 64 bytes (at `base` in `text`, bits
// `bits`) from `pos` on, all found from the bits at once: up to the block's first
// brace, string or 0x1A and short of a word that runs on past the block, both left
// to the caller. `pos` (a token's start or the byte after a token) and `line` (the
// line `pos` is on) move past the words found.
//
// A word starts at a byte that is no separator after a separator, at `pos`, or
// after a colon that ends a word. A word ends before a byte that ends words, or
// after its colon; a keyword (a star first) runs on over its colons. So the colons
// that end words are those outside the keywords' runs of word bytes, and a
// keyword's run is what adding its first bit to the word bytes' mask carries
// through. A star just after a colon would be a keyword that starts after a colon
// (which ends a word only outside a keyword): such a block is left to the caller.
inline void CutWordsOfBlock(const char* text, const BlockBits& bits, std::size_t base, std::size_t& pos, LineCount& line,
                            std::vector<Token>& out)
{
    const auto from = static_cast<unsigned>(pos - base);
    const std::uint64_t valid = ~std::uint64_t{0} << from;
    const std::uint64_t firstOther = bits.others & valid & (~(bits.others & valid) + 1);
    const std::uint64_t region = valid & (firstOther - 1);  // all from `pos` when there is no other
    if ((bits.stars & (bits.colons << 1) & region) != 0)
        return;
    const std::uint64_t wordBytes = ~bits.wordEnds & region;
    const std::uint64_t afterSeparator = (bits.separators << 1) | (std::uint64_t{1} << from);
    const std::uint64_t keywordStarts = bits.stars & wordBytes & afterSeparator;
    const std::uint64_t keywordBytes = wordBytes & ~(wordBytes + keywordStarts);
    const std::uint64_t endingColons = bits.colons & wordBytes & ~keywordBytes;
    const std::uint64_t ends = bits.wordEnds | (endingColons << 1);
    std::uint64_t starts = wordBytes & (afterSeparator | (endingColons << 1));
    std::uint64_t lineEnds = bits.lineEnds & valid;
    for (; starts != 0; starts &= starts - 1) {
        const auto at = static_cast<unsigned>(std::countr_zero(starts));
        const std::uint64_t after = ends & ~((std::uint64_t{2} << at) - 1);
        if (after == 0)
            return;  // the word runs on past the block
        const auto end = static_cast<unsigned>(std::countr_zero(after));
        for (; lineEnds != 0 && static_cast<unsigned>(std::countr_zero(lineEnds)) < at; lineEnds &= lineEnds - 1)
            ++line;
        out.push_back({std::string_view(text + base + at, end - at), LineNumber(line),
                       (keywordStarts >> at & 1) != 0 ? TokenKind::kKeyword : TokenKind::kWord});
        pos = base + end;
    }
}

// The bits set (line ends among a few separators: seldom more than one).
int CountBits(std::uint64_t bits)
{
    int count = 0;
    for (; bits != 0; bits &= bits - 1)
        ++count;
    return count;
}
#endif

}  // namespace

const char* TokenizerInstructions()
{
#ifdef ASE2SGL_TOKENIZER_AVX2
    if (ChosenClassifier() == ClassifyBlockAvx2)
        return "AVX2";
#endif
#ifdef ASE2SGL_TOKENIZER_SSE2
    return "SSE2";
#else
    return "bytes";
#endif
}

DecodedText DecodeText(std::string_view input)
{
    DecodedText decoded;
    if (input.substr(0, 3) == "\xEF\xBB\xBF") {
        decoded.encoding = Encoding::kUtf8WithBom;
        decoded.text = input.substr(3);
    } else if (input.substr(0, 2) == "\xFF\xFE" || LooksLikeUtf16(input, true)) {
        decoded.encoding = Encoding::kUtf16Le;
        decoded.owned = Utf16ToUtf8(input.substr(input.substr(0, 2) == "\xFF\xFE" ? 2 : 0), true);
        decoded.text = decoded.owned;
    } else if (input.substr(0, 2) == "\xFE\xFF" || LooksLikeUtf16(input, false)) {
        decoded.encoding = Encoding::kUtf16Be;
        decoded.owned = Utf16ToUtf8(input.substr(input.substr(0, 2) == "\xFE\xFF" ? 2 : 0), false);
        decoded.text = decoded.owned;
    } else {
        decoded.text = input;
        decoded.encoding = IsUtf8(input) ? Encoding::kUtf8 : Encoding::kEightBit;
    }
    return decoded;
}

const char* EncodingName(Encoding encoding)
{
    switch (encoding) {
    case Encoding::kUtf8: return "UTF-8";
    case Encoding::kUtf8WithBom: return "UTF-8 with BOM";
    case Encoding::kUtf16Le: return "UTF-16 LE";
    case Encoding::kUtf16Be: return "UTF-16 BE";
    case Encoding::kEightBit: return "8-bit";
    }
    return "UTF-8";
}

const char* LineEndsName(LineEnds ends)
{
    switch (ends) {
    case LineEnds::kNone: return "none";
    case LineEnds::kLf: return "LF";
    case LineEnds::kCrLf: return "CR LF";
    case LineEnds::kCr: return "CR";
    case LineEnds::kMixed: return "mixed";
    }
    return "none";
}

LineEnds DetectLineEnds(std::string_view text)
{
    LineEndsSeen seen;
    seen.Add(text);
    return seen.Result();
}

// Line ends up to the first 0x1A byte, which ends the text.
void LineEndsSeen::Add(std::string_view text)
{
    // Most text has neither CR nor 0x1A: then only whether it has an LF matters.
    if (!stopped_ && std::memchr(text.data(), '\r', text.size()) == nullptr &&
        std::memchr(text.data(), '\x1a', text.size()) == nullptr) {
        lf_ = lf_ || std::memchr(text.data(), '\n', text.size()) != nullptr;
        return;
    }
    for (std::size_t i = 0; i < text.size() && !stopped_; ++i) {
        const char c = text[i];
        if (c == '\n') {
            lf_ = true;
        } else if (c == '\r') {
            if (i + 1 < text.size() && text[i + 1] == '\n') {
                crlf_ = true;
                ++i;
            } else {
                cr_ = true;
            }
        } else if (c == '\x1a') {
            stopped_ = true;
        }
    }
}

LineEnds LineEndsSeen::Result() const
{
    const int kinds = int{lf_} + int{crlf_} + int{cr_};
    if (kinds == 0)
        return LineEnds::kNone;
    if (kinds > 1)
        return LineEnds::kMixed;
    return lf_ ? LineEnds::kLf : crlf_ ? LineEnds::kCrLf : LineEnds::kCr;
}

void PieceDecoder::Decode(std::string_view piece, bool last, std::string& out)
{
    if (!started_) {
        started_ = true;
        if (piece.substr(0, 3) == "\xEF\xBB\xBF") {
            encoding_ = Encoding::kUtf8WithBom;
            piece.remove_prefix(3);
        } else if (piece.substr(0, 2) == "\xFF\xFE" || LooksLikeUtf16(piece, true)) {
            encoding_ = Encoding::kUtf16Le;
            piece.remove_prefix(piece.substr(0, 2) == "\xFF\xFE" ? 2 : 0);
        } else if (piece.substr(0, 2) == "\xFE\xFF" || LooksLikeUtf16(piece, false)) {
            encoding_ = Encoding::kUtf16Be;
            piece.remove_prefix(piece.substr(0, 2) == "\xFE\xFF" ? 2 : 0);
        }
    }
    if (encoding_ != Encoding::kUtf16Le && encoding_ != Encoding::kUtf16Be) {
        out.append(piece);
        return;
    }
    // A code unit or pair cut by the piece before is read with the start of this one.
    std::string joined;
    std::string_view units = piece;
    if (!carry_.empty()) {
        joined = carry_;
        joined.append(piece);
        units = joined;
    }
    const std::size_t read = Utf16ToUtf8(units, encoding_ == Encoding::kUtf16Le, last, out);
    carry_.assign(units.substr(read));
}

// A blank or tab followed by a star and a letter: the next statement's keyword.
bool Tokenizer::StartsKeyword(std::size_t at) const
{
    return (text_[at] == ' ' || text_[at] == '\t') && at + 2 < text_.size() && text_[at + 1] == '*' &&
           std::isalpha(static_cast<unsigned char>(text_[at + 2]));
}

void Tokenizer::SkipSeparators()
{
    while (pos_ < text_.size() && IsSeparator(text_[pos_])) {
        const char c = text_[pos_++];
        // Line numbers stop at the largest a note can give (a text of more than
        // 2^31 lines has no line numbers past that).
        if ((c == '\n' || (c == '\r' && (pos_ == text_.size() || text_[pos_] != '\n'))) &&
            line_ < std::numeric_limits<std::int32_t>::max())
            ++line_;
    }
}

// Fills `token` (made as Token{} is) in place, which spares a copy per token.
inline void Tokenizer::NextToken(Token& token)
{
    SkipSeparators();
    token.line = line_;
    if (pos_ >= text_.size() || stoppedAtCtrlZ_)
        return;
    const char first = text_[pos_];
    if (first == '\x1a') {
        stoppedAtCtrlZ_ = true;
        return;
    }
    if (first == '{' || first == '}') {
        token.kind = first == '{' ? TokenKind::kOpen : TokenKind::kClose;
        token.text = text_.substr(pos_++, 1);
        return;
    }
    if (first == '"') {
        // To the last quote before the line's end, as a node header's name runs to
        // its line's last byte (a name may itself hold quotes), or before the next
        // keyword when a file puts several statements on one line.
        const std::size_t start = ++pos_;
        std::size_t end = start;
        std::size_t lastQuote = std::string_view::npos;
        while (end < text_.size() && text_[end] != '\n' && text_[end] != '\r' && text_[end] != '\x1a' &&
               !StartsKeyword(end)) {
            if (text_[end] == '"')
                lastQuote = end;
            ++end;
        }
        const std::size_t stop = lastQuote == std::string_view::npos ? end : lastQuote;
        token.kind = TokenKind::kString;
        token.text = text_.substr(start, stop - start);
        pos_ = lastQuote == std::string_view::npos ? end : lastQuote + 1;
        return;
    }
    const std::size_t start = pos_;
    while (pos_ < text_.size() && !EndsWord(text_[pos_])) {
        if (text_[pos_++] == ':' && first != '*')
            break;
    }
    token.kind = first == '*' ? TokenKind::kKeyword : TokenKind::kWord;
    token.text = text_.substr(start, pos_ - start);
}

Token Tokenizer::Next()
{
    Token token;
    NextToken(token);
    return token;
}

Token Tokenizer::CutAll(std::vector<Token>& out)
{
#ifdef ASE2SGL_TOKENIZER_SSE2
    CutBlocks(out);
#endif
    for (;;) {
        Token& token = out.emplace_back();
        NextToken(token);
        if (token.kind == TokenKind::kEnd) {
            const Token end = token;
            out.pop_back();
            return end;
        }
    }
}

#ifdef ASE2SGL_TOKENIZER_SSE2
// The tokens NextToken would give, found in the bits of 64 bytes at a time: the
// next token starts at the first byte that is no separator, a word ends at the
// first byte that ends words (or after its first colon), and the line ends passed
// over are counted from their bits. Braces, strings and a 0x1A byte are left to
// NextToken. Stops where the next token is not within the text's whole blocks of
// 64 bytes (its last bytes are read by NextToken). The words lying wholly in a
// block are taken all at once (CutWordsOfBlock); a token at a time is only for what
// that leaves: a word running past the block, a brace, a string, 0x1A.
void Tokenizer::CutBlocks(std::vector<Token>& out)
{
    const char* data = text_.data();
    const std::size_t size = text_.size();
    std::size_t pos = pos_;
    LineCount line = line_;
    BlockBits bits;
    const BlockClassifier classify = ChosenClassifier();
    std::size_t base = std::string_view::npos;  // where the block of `bits` starts
    // The block holding `at` into `bits`; false when no whole block of the text holds it.
    const auto blockAt = [&](std::size_t at) {
        const std::size_t start = at & ~std::size_t{63};
        if (start > size || size - start < 64)
            return false;
        if (start != base) {
            base = start;
            bits = classify(data + start, size - start > 64 && data[start + 64] == '\n');
        }
        return true;
    };
    while (blockAt(pos)) {
        CutWordsOfBlock(data, bits, base, pos, line, out);
        const std::uint64_t fromPos = ~std::uint64_t{0} << (pos - base);
        const std::uint64_t starts = ~bits.separators & fromPos;
        if (starts == 0) {
            line += CountBits(bits.lineEnds & fromPos);
            pos = base + 64;
            continue;
        }
        const auto at = static_cast<unsigned>(std::countr_zero(starts));
        line += CountBits(bits.lineEnds & fromPos & ((std::uint64_t{1} << at) - 1));
        pos = base + at;
        if ((bits.others >> at & 1) != 0) {  // a brace, a string or 0x1A
            pos_ = pos;
            line_ = LineNumber(line);
            Token& token = out.emplace_back();
            NextToken(token);
            if (token.kind == TokenKind::kEnd) {
                out.pop_back();
                return;
            }
            pos = pos_;
            line = line_;
            continue;
        }
        // A word, or a keyword (a star first), whose colons do not end it.
        const std::uint64_t colons = (bits.stars >> at & 1) != 0 ? 0 : ~std::uint64_t{0};
        std::size_t end = std::string_view::npos;
        for (std::size_t scan = pos; blockAt(scan); scan = base + 64) {
            const std::uint64_t ends = (bits.wordEnds | (bits.colons & colons)) & (~std::uint64_t{0} << (scan - base));
            if (ends != 0) {
                const auto offset = static_cast<unsigned>(std::countr_zero(ends));
                end = base + offset + ((bits.colons & colons) >> offset & 1);  // a colon stays with its word
                break;
            }
        }
        if (end == std::string_view::npos)
            break;  // the word runs into the text's last bytes
        out.push_back({std::string_view(data + pos, end - pos), LineNumber(line),
                       colons == 0 ? TokenKind::kKeyword : TokenKind::kWord});
        pos = end;
    }
    pos_ = pos;
    line_ = LineNumber(line);
}
#endif

}  // namespace ase2sgl::tolerant
