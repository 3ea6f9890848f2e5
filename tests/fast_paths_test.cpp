// The reading shortcuts against the general operations they stand in for: keys
// advanced in place against FormatKey, the short-decimal float path against a full
// conversion, and scans that start after a matched key against whole-line scans.
#include "ase/keys.h"
#include "ase/line_source.h"
#include "ase/list_scan.h"
#include "ase/numbered_key.h"
#include "ase/short_decimal.h"
#include "support/key_format.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <tuple>

namespace ase2sgl {
namespace {

using testing::Bits;
using testing::FormatKey;

// `first` to `last` is unsigned: digit* ("." digit*)?, with at least one digit and
// no exponent. Gives false, leaving `value` alone, when neither path applies.
inline bool ParseShortDecimal(const char* first, const char* last, float& value)
{
    ShortDecimal decimal;
    const char* p = decimal.Gather(first, last);
    if (p != last && *p == '.') {
        const char* fractionEnd = decimal.Gather(p + 1, last);
        decimal.fractionDigits = static_cast<int>(fractionEnd - (p + 1));
    }
    return decimal.ToFloat(value);
}

const std::string_view kKeyFormats[] = {keys::kVertex, keys::kFace, keys::kTexVertex};

TEST(NumberedKey, AdvancesThroughTheSameBytesAsFormatKey)
{
    std::string expected;
    for (const std::string_view format : kKeyFormats) {
        NumberedKey key(format, 0);
        for (std::int64_t n = 0; n <= 120000; ++n, key.Advance()) {
            FormatKey(expected, format, n);
            ASSERT_EQ(key.View(), expected) << format << " at " << n;
            ASSERT_EQ(key.Number(), n);
        }
    }
}

TEST(NumberedKey, StartsAnywhereLikeFormatKey)
{
    std::string expected;
    for (const std::string_view format : kKeyFormats) {
        for (const std::int64_t start : {-12, -1, 0, 9, 99, 999, 9999, 99999, 2147483647}) {
            NumberedKey key(format, start);
            for (std::int64_t n = start; n < start + 3; ++n, key.Advance()) {
                FormatKey(expected, format, n);
                EXPECT_EQ(key.View(), expected) << format << " at " << n;
            }
        }
    }
}

// The prefix behaviour of the keys, padding included, is FormatKey's.
TEST(NumberedKey, MatchesLinesAsTheFormattedKeyDoes)
{
    struct Case {
        std::string_view format;
        std::int64_t n;
        std::string_view line;
        bool matches;
    };
    const Case cases[] = {
        {keys::kTexVertex, 1, "\t\t\t*MESH_TVERT 12\t0.5\t0.5\t0.0", true},  // "%d": a prefix of 12
        {keys::kTexVertex, 1, "\t\t\t*MESH_TVERT 1\t0.5\t0.5\t0.0", true},
        {keys::kTexVertex, 2, "\t\t\t*MESH_TVERT 12\t0.5", false},
        {keys::kVertex, 1, "\t\t\t*MESH_VERTEX   12\t1.0", false},  // "%4d" ends with a tab
        {keys::kVertex, 12, "\t\t\t*MESH_VERTEX   12\t1.0", true},
        {keys::kVertex, 12, "\t\t\t*MESH_VERTEX 12\t1.0", false},     // unpadded
        {keys::kVertex, 12, "\t\t\t*MESH_VERTEX    12\t1.0", false},  // padded to five
        {keys::kVertex, 10000, "\t\t\t*MESH_VERTEX 10000\t1.0", true},
        {keys::kVertex, 10000, "\t\t\t*MESH_VERTEX  10000\t1.0", false},
        {keys::kFace, 9999, "\t\t\t*MESH_FACE 9999:    A:", true},
        {keys::kFace, 5, "\t\t\t*MESH_FACE    5", false},  // shorter than the key
    };
    std::string formatted;
    for (const Case& c : cases) {
        FormatKey(formatted, c.format, c.n);
        const NumberedKey key(c.format, c.n);
        EXPECT_EQ(StartsWith(c.line, key.View()), c.matches) << c.line;
        EXPECT_EQ(StartsWith(c.line, formatted), c.matches) << c.line;
    }
}

float FullConversion(std::string_view text)
{
    float value = 0;
    std::from_chars(text.data(), text.data() + text.size(), value);
    return value;
}

TEST(ShortDecimal, EqualsTheFullConversionOnTrickyInputs)
{
    struct Case {
        std::string_view text;
        bool short_;  // taken by the fast path
    };
    const Case cases[] = {
        {"0", true},
        {"0.0000", true},
        {".5", true},
        {"5.", true},
        {"0.1", true},
        {"0.3", true},
        {"0.0001", true},
        {"1234.567", true},
        {"9999999", true},
        {"999999.9", true},
        {"0000001", true},
        {"0.000001", true},
        {"8388607.", true},
        {"838860.7", true},
        {"0.7", true},
        {"3.141593", true},
        {"1234.5678", true},
        {"-0", true},
        {"1677721.5", true},
        {"0.00000001", true},
        {"3.4028235", true},
        {"00000001", true},
        {"1.00000005", true},
        {"999999999999999", true},
        {"0.12345678901234", true},
        {"33554435", true},
        // Exactly halfway between two floats: left to the full conversion.
        {"16777217", false},
        {"16777217.0", false},
        {"33554434", false},
        {"1677721.6875", false},
        // Too many digits for either path.
        {"1234567890123456", false},
        {"0.123456789012345", false},
        {"1.00000005960464477539", false},
    };
    for (const Case& c : cases) {
        float value = -1;
        const std::string_view digits = c.text.substr(c.text.front() == '-' ? 1 : 0);
        const bool taken = ParseShortDecimal(digits.data(), digits.data() + digits.size(), value);
        EXPECT_EQ(taken, c.short_) << c.text;
        if (taken)
            EXPECT_EQ(Bits(value), Bits(FullConversion(digits))) << c.text;
        else
            EXPECT_EQ(value, -1) << c.text;
    }
}

// Every mantissa below 10^5 and a spread of larger ones, with every fraction length.
TEST(ShortDecimal, EqualsTheFullConversionOverASweep)
{
    char text[16];
    std::int64_t checked = 0;
    for (std::uint32_t m = 0; m < 10'000'000; m += (m < 100'000 ? 1 : 997)) {
        const std::string digits = std::to_string(m);
        for (std::size_t fraction = 0; fraction <= 7; ++fraction) {
            std::string padded = digits;
            if (padded.size() <= fraction)
                padded.insert(0, fraction - padded.size() + 1, '0');
            if (padded.size() > 7)
                break;
            const std::size_t point = padded.size() - fraction;
            const std::string number = padded.substr(0, point) + "." + padded.substr(point);
            std::memcpy(text, number.data(), number.size());
            float value = 0;
            ASSERT_TRUE(ParseShortDecimal(text, text + number.size(), value)) << number;
            ASSERT_EQ(Bits(value), Bits(FullConversion(number))) << number;
            ++checked;
        }
    }
    EXPECT_GT(checked, 500'000);
}

// Eight to fifteen digits: a spread of mantissas with every fraction length, and the
// neighbours of every float halfway point between 2^24 and 2^25 in a stretch.
TEST(ShortDecimal, LongMantissasEqualTheFullConversion)
{
    std::int64_t checked = 0;
    auto check = [&](const std::string& number) {
        float value = 0;
        if (ParseShortDecimal(number.data(), number.data() + number.size(), value)) {
            ASSERT_EQ(Bits(value), Bits(FullConversion(number))) << number;
            ++checked;
        }
    };
    for (std::uint64_t m = 10'000'000; m < 1'000'000'000'000'000; m = m * 3 / 2 + 12'345) {
        const std::string digits = std::to_string(m);
        for (std::size_t fraction = 0; fraction <= digits.size(); ++fraction) {
            const std::size_t point = digits.size() - fraction;
            check(digits.substr(0, point) + "." + digits.substr(point));
        }
    }
    for (std::uint64_t m = 16'777'216; m < 16'777'216 + 200'000; ++m) {
        check(std::to_string(m));
        check(std::to_string(m / 10) + "." + std::to_string(m % 10));
    }
    EXPECT_GT(checked, 300'000);
}

// Decimals of 15 digits closest to points halfway between two floats, over a spread
// of magnitudes: their products with 10^-k land within a few ulps of the halfway
// point, on either side, where the multiplication must hand over to the division.
TEST(ShortDecimal, DecimalsNextToAHalfwayPointEqualTheFullConversion)
{
    std::int64_t checked = 0, nearHalfway = 0;
    std::uint64_t state = 12345;
    for (int i = 0; i < 200'000; ++i) {
        state = state * 6364136223846793005u + 1442695040888963407u;
        const int exponent = static_cast<int>(state >> 59) - 12;  // 2^-12 to 2^19
        const float below = std::ldexp(1.0f + static_cast<float>((state >> 20) & 0x7FFFFF) / 8388608.0f, exponent);
        const double halfway =
            (static_cast<double>(below) + static_cast<double>(std::nextafter(below, 2.0f * below))) / 2;
        char text[64];
        const int length = std::snprintf(text, sizeof text, "%.*f", 14 - std::max(0, exponent * 3 / 10), halfway);
        std::string number(text, static_cast<std::size_t>(length));
        for (const int step : {0, 1, -1}) {  // the nearest decimal and its neighbours in the last digit
            if ((step > 0 && number.back() == '9') || (step < 0 && number.back() == '0'))
                continue;
            number.back() = static_cast<char>(text[length - 1] + step);
            ShortDecimal decimal;
            const char* p = decimal.Gather(number.data(), number.data() + number.size());
            const char* fractionEnd = decimal.Gather(p + 1, number.data() + number.size());
            decimal.fractionDigits = static_cast<int>(fractionEnd - (p + 1));
            float value = 0;
            if (!decimal.ToFloat(value))
                continue;
            ASSERT_EQ(Bits(value), Bits(FullConversion(number))) << number;
            ++checked;
            static constexpr double kInverse[] = {1e-0, 1e-1, 1e-2,  1e-3,  1e-4,  1e-5,  1e-6,  1e-7,
                                                  1e-8, 1e-9, 1e-10, 1e-11, 1e-12, 1e-13, 1e-14, 1e-15};
            nearHalfway += short_decimal::IsNearFloatHalfway(static_cast<double>(decimal.mantissa) *
                                                             kInverse[decimal.fractionDigits]);
        }
    }
    EXPECT_GT(checked, 300'000);
    EXPECT_GT(nearHalfway, 1000);  // the hand-over to the division is exercised
}

struct Scanned {
    int stored = 0;
    std::int32_t number = -7;
    float values[3] = {-7, -7, -7};
    bool operator==(const Scanned& o) const
    {
        return stored == o.stored && number == o.number && Bits(values[0]) == Bits(o.values[0]) &&
               Bits(values[1]) == Bits(o.values[1]) && Bits(values[2]) == Bits(o.values[2]);
    }
};

std::string Describe(const Scanned& s)
{
    return std::to_string(s.stored) + ": " + std::to_string(s.number) + " " + std::to_string(s.values[0]) + " " +
           std::to_string(s.values[1]) + " " + std::to_string(s.values[2]);
}

// Lines with a literal head: every case scanned both ways.
TEST(ScanWithHead, ReadsWhatTheWholeFormatReads)
{
    const std::string_view lines[] = {
        "\t\t\t*MESH_TVERT 3\t0.2500\t-1.5e-1\t0.0000",
        "\t\t\t*MESH_TVERT 3\t\t 0.25  \t0.75\t",
        "\t\t\t*MESH_TVERT  3 0.25 0.75",          // extra blank after the head
        "\t\t\t*MESH_TVERT 3\t0.123456789\t1e40",  // long mantissa, beyond float
        "\t\t\t*MESH_TVERT 3\tx",
        "\t\t\t*MESH_TVERT ",
        "\t\t\t*MESH_TVERT",  // shorter than the head
        "\t\t *MESH_TVERT 3\t0.5\t0.5",
        " \t\t\t*MESH_TVERT 3\t0.5\t0.5",  // extra whitespace before: only the whole format reads it
        "\t\t\t\t*MESH_VERTEXNORMAL 12\t-0.5774\t0.5774\t-0.5774",
        "\t\t\t\t*MESH_VERTEXNORMAL 12\t1.5E+2\t.5\t-.5e-3",
        "\t\t\t\t*MESH_VERTEXNORMAL 12\t1.\t2",
        "\t\t\t\t*MESH_VERTEXNORMAL -3\t+1.25\t-0\t99999999999",
        "\t\t\t\t*MESH_VERTEXNORMAL\t12\t1\t2\t3",
        "\t\t\t*MESH_TFACE 0\t1\t2\t3",
        "\t\t\t*MESH_TFACE 0 \t 1 2\t\t3",
        "\t\t\t*MESH_TFACE 0\t1\t2",
        "\t\t\t*MESH_TFACE 99999999999\t-99999999999\t2\t3",
    };
    for (const std::string_view line : lines) {
        {
            Scanned whole, fast;
            whole.stored = ScanLine(line, keys::kTexVertexScan, {whole.number, whole.values[0], whole.values[1]});
            fast.stored = ScanWithHead<keys::kTexVertexHead, keys::kTexVertexScanTail, keys::kTexVertexScan>(
                line, fast.number, fast.values[0], fast.values[1]);
            EXPECT_TRUE(whole == fast) << "texture vertex on " << line << ": " << Describe(whole) << " vs "
                                       << Describe(fast);
        }
        {
            Scanned whole, fast;
            whole.stored = ScanLine(line, keys::kVertexNormalScan,
                                    {whole.number, whole.values[0], whole.values[1], whole.values[2]});
            fast.stored = ScanWithHead<keys::kVertexNormalHead, keys::kVertexNormalScanTail, keys::kVertexNormalScan>(
                line, fast.number, fast.values[0], fast.values[1], fast.values[2]);
            EXPECT_TRUE(whole == fast) << "vertex normal on " << line << ": " << Describe(whole) << " vs "
                                       << Describe(fast);
        }
        {
            std::int32_t whole[4] = {-7, -7, -7, -7}, fast[4] = {-7, -7, -7, -7};
            const int wholeStored = ScanLine(line, keys::kTexFaceScan, {whole[0], whole[1], whole[2], whole[3]});
            const int fastStored = ScanWithHead<keys::kTexFaceHead, keys::kTexFaceScanTail, keys::kTexFaceScan>(
                line, fast[0], fast[1], fast[2], fast[3]);
            EXPECT_EQ(wholeStored, fastStored) << "texture face on " << line;
            for (int i = 0; i < 4; ++i)
                EXPECT_EQ(whole[i], fast[i]) << "texture face on " << line;
        }
    }
}

// Vertex and face lines scanned from the end of the numbered key they matched.
TEST(ScanAfterKey, ReadsWhatTheFormattedTemplateReads)
{
    struct Case {
        std::int64_t n;
        std::string tailOfLine;  // what follows the key on the line
    };
    const Case vertexCases[] = {
        {0, "-16.0000\t16.0000\t-16.0000"},  {7, "1.5\t2.5\t3.5"}, {9999, "\t 1.5  2.5\t\t3.5"},
        {10000, "1.23456789\t-1e-50\t3e39"}, {12, "1.5\tx\t3.5"},  {12, ""},
        {123456, "0.0001\t-0.0000\t7."},
    };
    std::string format;
    for (const Case& c : vertexCases) {
        const NumberedKey key(keys::kVertex, c.n);
        const std::string line = std::string(key.View()) + c.tailOfLine;
        Scanned whole, fast;
        FormatKey(format, keys::kVertexScan, c.n);
        whole.stored = ScanLine(line, format, {whole.values[0], whole.values[1], whole.values[2]});
        fast.stored =
            ScanAfterKey<keys::kVertexScanTail>(line, key.View(), fast.values[0], fast.values[1], fast.values[2]);
        EXPECT_TRUE(whole == fast) << line << ": " << Describe(whole) << " vs " << Describe(fast);
    }
    const Case faceCases[] = {
        {0, "    A:    1 B:    2 C:    0 AB:    0 BC:    0 CA:    0\t *MESH_SMOOTHING 0"},
        {11, "    A:11000 B:10999 C:   -3 AB:"},
        {9999, "A:1 B:2 C:3"},
        {10000, "\tA:\t1 B:2  C:3"},
        {5, "    A:    1 B:    2"},
        {5, "    B:    1 A:    2 C:    3"},
        {5, "    A:99999999999 B:1 C:2"},
    };
    for (const Case& c : faceCases) {
        const NumberedKey key(keys::kFace, c.n);
        const std::string line = std::string(key.View()) + c.tailOfLine;
        std::int32_t whole[3] = {-7, -7, -7}, fast[3] = {-7, -7, -7};
        FormatKey(format, keys::kFaceScan, c.n);
        const int wholeStored = ScanLine(line, format, {whole[0], whole[1], whole[2]});
        const int fastStored = ScanAfterKey<keys::kFaceScanTail>(line, key.View(), fast[0], fast[1], fast[2]);
        EXPECT_EQ(wholeStored, fastStored) << line;
        for (int i = 0; i < 3; ++i)
            EXPECT_EQ(whole[i], fast[i]) << line;
    }
}

// The compiled scans against ScanLine on random lines: each list format's tail over
// lines made of the bytes that decide a scan (digits, signs, points, exponents,
// blanks, the face format's letters and colons, other bytes), long and short.
template <typename T>
std::uint32_t BitsOf(T value)
{
    if constexpr (std::is_same_v<T, float>)
        return Bits(value);
    else if constexpr (std::is_same_v<T, SkippedInt>)
        return 0;  // the compiled scan does not store it
    else
        return static_cast<std::uint32_t>(value);
}

template <const std::string_view& kTail, typename... Targets>
void ExpectCompiledEqualsScanLine(std::uint32_t& seed, Targets... initial)
{
    static constexpr std::string_view kAlphabet = "0123456789012345678901234567890123456789..--+eE \t\t\t  ABC::x\r\n\v\f\x80";
    std::string line;
    for (int round = 0; round < 40'000; ++round) {
        line.clear();
        seed = seed * 1664525 + 1013904223;
        const std::size_t length = (seed >> 8) % 48;
        for (std::size_t i = 0; i < length; ++i) {
            seed = seed * 1664525 + 1013904223;
            line += kAlphabet[(seed >> 8) % kAlphabet.size()];
        }
        if (round % 4 == 0)  // often a well-formed start: the scan goes further
            line.insert(0, round % 8 == 0 ? "\t12" : "    A: 3 B:");
        std::tuple<Targets...> whole(initial...), fast(initial...);
        const int wholeStored = std::apply(
            [&](auto&... t) { return ScanLine(line, kTail, {t...}); }, whole);
        const int fastStored = std::apply([&](auto&... t) { return ScanFixed<kTail>(line, t...); }, fast);
        ASSERT_EQ(wholeStored, fastStored) << kTail << " on \"" << line << '"';
        const bool same = std::apply(
            [&](const auto&... w) {
                return std::apply([&](const auto&... f) { return ((BitsOf(w) == BitsOf(f)) && ...); }, fast);
            },
            whole);
        ASSERT_TRUE(same) << kTail << " on \"" << line << '"';
    }
}

TEST(ScanFixed, StoresWhatScanLineStoresOnRandomLines)
{
    std::uint32_t seed = 12345;
    ExpectCompiledEqualsScanLine<keys::kVertexScanTail>(seed, -7.0f, -7.0f, -7.0f);
    ExpectCompiledEqualsScanLine<keys::kFaceScanTail>(seed, std::int32_t{-7}, std::int32_t{-7}, std::int32_t{-7});
    ExpectCompiledEqualsScanLine<keys::kTexVertexScanTail>(seed, std::int32_t{-7}, -7.0f, -7.0f);
    ExpectCompiledEqualsScanLine<keys::kTexFaceScanTail>(seed, std::int32_t{-7}, std::int32_t{-7}, std::int32_t{-7},
                                                         std::int32_t{-7});
    ExpectCompiledEqualsScanLine<keys::kVertexNormalScanTail>(seed, std::int32_t{-7}, -7.0f, -7.0f, -7.0f);
    // The repeated numbers as the geometry read passes over them.
    ExpectCompiledEqualsScanLine<keys::kTexVertexScanTail>(seed, SkippedInt{}, -7.0f, -7.0f);
    ExpectCompiledEqualsScanLine<keys::kTexFaceScanTail>(seed, SkippedInt{}, std::int32_t{-7}, std::int32_t{-7},
                                                         std::int32_t{-7});
    ExpectCompiledEqualsScanLine<keys::kVertexNormalScanTail>(seed, SkippedInt{}, -7.0f, -7.0f, -7.0f);
}

// SkipInt ends where ScanInt ends, with fewer than eight bytes left and with more
// (eight at a time), for numbers of every length around eight digits.
TEST(SkipInt, EndsWhereScanIntEnds)
{
    const std::string_view numbers[] = {"",        "-",         "+",          "x",           "1",
                                        "-12",     "+7",        "1234567",    "12345678",    "123456789",
                                        "-0000000", "99999999999", "7x",      "0\t1",        "--1",
                                        "5\r",     "\x80",     "12345678901234567890"};
    for (const std::string_view number : numbers) {
        for (const std::string_view after : {"", "\t", "\t0.5\t-0.5\t0.25", "9"}) {
            const std::string line = std::string(number) + std::string(after);
            const char* end = line.data() + line.size();
            std::int32_t value = 0;
            const char* scanned = scan::ScanInt(line.data(), end, value);
            const char* skipped = scan::SkipInt(line.data(), end);
            EXPECT_EQ(skipped == nullptr, scanned == nullptr) << '"' << line << '"';
            if (scanned != nullptr && skipped != nullptr) {
                EXPECT_EQ(skipped - line.data(), scanned - line.data()) << '"' << line << '"';
            }
        }
    }
}

}  // namespace
}  // namespace ase2sgl
