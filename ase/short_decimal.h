// A fast, exact path for the short decimals the exporter writes ("-1234.5678"):
// with at most 7 digits in all, the digits m are exactly a float (m < 2^24), and so
// is 10^k for the k fraction digits (k <= 7, 5^7 < 2^24). One float division then
// rounds m / 10^k once, to nearest even, which is exactly the correctly rounded
// value a full decimal-to-float conversion gives. Longer numbers, and any exponent,
// take the full conversion.
#pragma once

#include <cfloat>
#include <cstdint>

namespace ase2sgl {

static_assert(FLT_EVAL_METHOD == 0, "the division below must round to float, not to a wider type");

// `first` to `last` is unsigned: digit* ("." digit*)?, with at least one digit and
// no exponent. Gives false, leaving `value` alone, when it has more than 7 digits.
inline bool ParseShortDecimal(const char* first, const char* last, float& value)
{
    static constexpr float kPowersOfTen[] = {1e0f, 1e1f, 1e2f, 1e3f, 1e4f, 1e5f, 1e6f, 1e7f};
    std::uint32_t mantissa = 0;
    int digits = 0;
    int fractionDigits = 0;
    bool inFraction = false;
    for (const char* p = first; p != last; ++p) {
        if (*p == '.') {
            inFraction = true;
            continue;
        }
        if (++digits > 7)
            return false;
        mantissa = mantissa * 10 + static_cast<std::uint32_t>(*p - '0');
        fractionDigits += inFraction;
    }
    value = static_cast<float>(mantissa) / kPowersOfTen[fractionDigits];
    return true;
}

}  // namespace ase2sgl
