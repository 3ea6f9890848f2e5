// The field readers ScanLine is made of (white space, %d, %f), and the same scan with
// its format fixed when the program is compiled: the format is turned into a list
// of steps once, by the compiler, and each list line runs the steps straight
// through, with no format byte read at run time. The steps are ScanLine's own, in
// ScanLine's order, with its stopping rules, so the two store the same values and
// give the same count for every line (tests/fast_paths_test.cpp checks this on
// random lines).
#pragma once

#include "ase/short_decimal.h"

#include <algorithm>
#include <array>
#include <bit>
#include <charconv>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <limits>
#include <string_view>
#include <tuple>
#include <type_traits>
#include <utility>

namespace ase2sgl {

// A %d whose value is not wanted (the number a list line repeats): the scans with a
// compiled format only check that it is there; ScanLine stores it in `value`.
struct SkippedInt {
    std::int32_t value = 0;
};

}  // namespace ase2sgl

namespace ase2sgl::scan {

inline bool IsSpace(char c)
{
    return c == ' ' || (c >= '\t' && c <= '\r');
}

inline bool IsDigit(char c)
{
    return c >= '0' && c <= '9';
}

inline const char* SkipSpace(const char* p, const char* end)
{
    while (p != end && IsSpace(*p))
        ++p;
    return p;
}

inline const char* SkipDigits(const char* p, const char* end)
{
    while (p != end && IsDigit(*p))
        ++p;
    return p;
}

// How many of the eight bytes at `p` (all readable) are digits before the first that
// is not, up to 8, without a branch a byte: a byte b is a digit when b ^ '0' is below
// 10, that is when its high bit is clear and adding 0x76 to its low seven bits does
// not set it (no carry reaches the next byte). Numbers of varying length stop a
// byte-at-a-time loop at a different place on each line, which the processor
// mispredicts.
inline int DigitRun(const char* p)
{
    static_assert(std::endian::native == std::endian::little, "the first byte read is the word's lowest");
    std::uint64_t w = 0;
    std::memcpy(&w, p, sizeof w);
    const std::uint64_t x = w ^ 0x3030303030303030u;
    const std::uint64_t notDigit = (((x & 0x7F7F7F7F7F7F7F7Fu) + 0x7676767676767676u) | x) & 0x8080808080808080u;
    return notDigit == 0 ? 8 : std::countr_zero(notDigit) / 8;
}

// Passes over [+-]? digit+ as ScanInt reads it, storing nothing. Returns the
// position after the number, or nullptr when no digit follows.
inline const char* SkipInt(const char* p, const char* end)
{
    if (p != end && (*p == '-' || *p == '+'))
        ++p;
    if (p == end || !IsDigit(*p))
        return nullptr;
    if (end - p >= 8) {
        const int n = DigitRun(p);
        if (n < 8)
            return p + n;
    }
    return SkipDigits(p, end);
}

// Reads [+-]? digit+ into `value`, saturating at the int32 range. Returns the position
// after the number, or nullptr when no digit follows (value untouched).
inline const char* ScanInt(const char* p, const char* end, std::int32_t& value)
{
    const bool negative = p != end && *p == '-';
    if (p != end && (*p == '-' || *p == '+'))
        ++p;
    if (p == end || !IsDigit(*p))
        return nullptr;
    constexpr std::int64_t kLimit = std::int64_t{std::numeric_limits<std::int32_t>::max()} + 1;
    std::int64_t magnitude = 0;
    for (; p != end && IsDigit(*p); ++p) {
        if (magnitude <= kLimit)  // past the limit it only has to stay past it
            magnitude = magnitude * 10 + (*p - '0');
    }
    magnitude = std::min(magnitude, kLimit);
    const std::int64_t signedValue = negative ? -magnitude : std::min(magnitude, kLimit - 1);
    value = static_cast<std::int32_t>(signedValue);
    return p;
}

// The full conversion of a decimal float for what the short paths leave: long
// mantissas, exponents, halfway cases, values beyond the float range.
const char* ScanLongFloat(const char* mantissa, const char* intEnd, const char* q, const char* exponentDigits,
                          bool negative, float& value);

// Reads a decimal float (grammar above ScanLine) into `value`, correctly rounded.
// Returns the position after it, or nullptr when there is no number (value untouched).
inline const char* ScanFloat(const char* p, const char* end, float& value)
{
    if (p == end)
        return nullptr;
    // The sign without a branch: in lists of normals it is as often "-" as not.
    const bool negative = *p == '-';
    p += negative || *p == '+';
    // The digits are gathered on the way for the short-decimal path, which refuses
    // numbers of more than 15.
    ShortDecimal digits;
    const char* mantissa = p;
    const char* q = digits.Gather(p, end);
    const char* intEnd = q;
    bool anyDigit = intEnd != mantissa;
    if (q != end && *q == '.') {
        const char* fractionEnd = digits.Gather(q + 1, end);
        digits.fractionDigits = static_cast<int>(fractionEnd - (q + 1));
        anyDigit = anyDigit || fractionEnd != q + 1;
        q = fractionEnd;
    }
    if (!anyDigit)
        return nullptr;
    const char* exponentDigits = nullptr;
    if (q != end && (*q == 'e' || *q == 'E')) {
        const char* e = q + 1;
        if (e != end && (*e == '+' || *e == '-'))
            ++e;
        if (e != end && IsDigit(*e)) {  // otherwise the "e" is not part of the number
            exponentDigits = q + 1;
            q = SkipDigits(e, end);
        }
    }
    float magnitude = 0;
    if (exponentDigits == nullptr && digits.ToFloat(magnitude)) {
        value = std::bit_cast<float>(std::bit_cast<std::uint32_t>(magnitude) |
                                     static_cast<std::uint32_t>(negative) << 31);  // -magnitude when negative
        return q;
    }
    return ScanLongFloat(mantissa, intEnd, q, exponentDigits, negative, value);
}

// A format, compiled: one step per blank run, conversion or literal byte.
enum class StepKind : unsigned char { kSkipSpace, kInt, kFloat, kLiteral, kUnknownConversion };
struct Step {
    StepKind kind = StepKind::kLiteral;
    char literal = 0;
};

// Walks `format` as ScanLine does, handing each step to `add`.
template <typename Add>
constexpr void WalkFormat(std::string_view format, Add add)
{
    for (std::size_t i = 0; i < format.size(); ++i) {
        const char c = format[i];
        if (c == ' ' || c == '\t') {
            add(Step{StepKind::kSkipSpace, 0});
        } else if (c == '%' && i + 1 < format.size() && format[i + 1] != '%') {
            const char conversion = format[++i];
            add(Step{conversion == 'd'   ? StepKind::kInt
                     : conversion == 'f' ? StepKind::kFloat
                                         : StepKind::kUnknownConversion,
                     conversion});
        } else {
            if (c == '%')
                ++i;  // "%%" matches one "%"
            add(Step{StepKind::kLiteral, c});
        }
    }
}

constexpr std::size_t StepCount(std::string_view format)
{
    std::size_t count = 0;
    WalkFormat(format, [&](Step) { ++count; });
    return count;
}

template <const std::string_view& kFormat>
constexpr auto Compile()
{
    std::array<Step, StepCount(kFormat)> steps{};
    std::size_t n = 0;
    WalkFormat(kFormat, [&](Step step) { steps[n++] = step; });
    return steps;
}

// The conversions of a compiled format, in order, as their target types.
template <const std::string_view& kFormat>
constexpr bool TargetsMatch(std::initializer_list<bool> isInt)
{
    constexpr auto kSteps = Compile<kFormat>();
    auto next = isInt.begin();
    for (const Step step : kSteps) {
        if (step.kind == StepKind::kUnknownConversion)
            return false;
        if (step.kind != StepKind::kInt && step.kind != StepKind::kFloat)
            continue;
        if (next == isInt.end() || *next++ != (step.kind == StepKind::kInt))
            return false;
    }
    return next == isInt.end();
}

// Runs step I; false when the scan stops there.
template <Step kStep, std::size_t kTarget, typename Targets>
inline bool RunStep(const char*& p, const char* end, int& stored, Targets& targets)
{
    if constexpr (kStep.kind == StepKind::kSkipSpace) {
        p = SkipSpace(p, end);
        return true;
    } else if constexpr (kStep.kind == StepKind::kLiteral) {
        if (p == end || *p != kStep.literal)
            return false;
        ++p;
        return true;
    } else {
        p = SkipSpace(p, end);
        using Target = std::remove_reference_t<decltype(std::get<kTarget>(targets))>;
        if constexpr (kStep.kind == StepKind::kInt && std::is_same_v<Target, SkippedInt>)
            p = SkipInt(p, end);
        else if constexpr (kStep.kind == StepKind::kInt)
            p = ScanInt(p, end, std::get<kTarget>(targets));
        else
            p = ScanFloat(p, end, std::get<kTarget>(targets));
        if (p == nullptr)
            return false;
        ++stored;
        return true;
    }
}

// The target a step stores into: the number of conversions before it.
template <const std::string_view& kFormat>
constexpr std::size_t TargetOf(std::size_t step)
{
    constexpr auto kSteps = Compile<kFormat>();
    std::size_t conversions = 0;
    for (std::size_t i = 0; i < step; ++i)
        conversions += kSteps[i].kind == StepKind::kInt || kSteps[i].kind == StepKind::kFloat;
    return conversions;
}

}  // namespace ase2sgl::scan

namespace ase2sgl {

// ScanLine(line, kFormat, {targets...}) with the format compiled: the same values
// stored, the same count given. The targets' types must be the format's conversions
// in order (%d std::int32_t or SkippedInt, %f float), which the compiler checks.
template <const std::string_view& kFormat, typename... Targets>
inline int ScanFixed(std::string_view line, Targets&... targets)
{
    static_assert(
        scan::TargetsMatch<kFormat>({(std::is_same_v<Targets, std::int32_t> || std::is_same_v<Targets, SkippedInt>)...}),
        "the targets must be the format's conversions, in order");
    static_assert(((std::is_same_v<Targets, std::int32_t> || std::is_same_v<Targets, SkippedInt> ||
                    std::is_same_v<Targets, float>)&&...));
    static constexpr auto kSteps = scan::Compile<kFormat>();
    const char* p = line.data();
    const char* const end = p + line.size();
    int stored = 0;
    std::tuple<Targets&...> bound(targets...);
    [&]<std::size_t... kI>(std::index_sequence<kI...>) {
        (scan::RunStep<kSteps[kI], scan::TargetOf<kFormat>(kI)>(p, end, stored, bound) && ...);
    }(std::make_index_sequence<kSteps.size()>{});
    return stored;
}

}  // namespace ase2sgl
