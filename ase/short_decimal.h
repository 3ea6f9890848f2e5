// Fast, exact paths for the short decimals the exporter writes ("-1234.5678"). Both
// give exactly the correctly rounded float a full decimal-to-float conversion gives;
// anything else (more than 15 digits, an exponent) takes the full conversion.
//
//   - At most 7 digits in all: the digits m are exactly a float (m < 2^24), and so
//     is 10^k for the k fraction digits (k <= 7, 5^7 < 2^24). One float division
//     rounds m / 10^k once, to nearest even: the correctly rounded result.
//   - 8 to 15 digits: m < 2^53 and 10^k (k <= 15) are exact doubles, so one double
//     division gives d, the double nearest to x = m / 10^k. Rounding d to float
//     gives the float nearest to x unless d lies exactly halfway between two floats:
//     every such halfway point is itself a double, so x cannot lie on the other
//     side of one from d without d being that point. That one case is left to the
//     full conversion.
//
// A division takes several times as long as a multiplication, and a list line holds
// three numbers, so both paths first try d = m * 10^-k in double, with 10^-k the
// double nearest to it. m is exact, 10^-k and the product are each rounded once, so
// d is within 2^-52 of x relatively: less than three units in d's last place (ulps).
// The halfway points between floats are doubles whose 29 bits below the float's
// 24 are a one followed by zeros; when d's 29 bits are more than eight ulps away from
// that pattern, no halfway point lies between d and x (nor on d), and d rounds to
// the float x rounds to. Near a halfway point (8 in 2^28 of the products) the
// division decides, as above.
#pragma once

#include <cfloat>
#include <cstdint>
#include <cstring>

namespace ase2sgl {

static_assert(FLT_EVAL_METHOD == 0, "the divisions below must round to their own type, not to a wider one");

namespace short_decimal {

// True when the double lies exactly halfway between two adjacent floats (for the
// normal range these values fall in): its significand below the float's 24 bits is
// a one followed by zeros.
inline bool IsFloatHalfway(double d)
{
    std::uint64_t bits = 0;
    std::memcpy(&bits, &d, sizeof bits);
    constexpr std::uint64_t kBelowFloat = (std::uint64_t{1} << 29) - 1;  // 52 - 23 bits
    return (bits & kBelowFloat) == (std::uint64_t{1} << 28);
}

// True when the double is at most eight of its ulps from a point halfway between two
// adjacent floats: its 29 bits below the float's significand are within 8 of a one
// followed by zeros.
inline bool IsNearFloatHalfway(double d)
{
    std::uint64_t bits = 0;
    std::memcpy(&bits, &d, sizeof bits);
    constexpr std::uint64_t kBelowFloat = (std::uint64_t{1} << 29) - 1;
    constexpr std::uint64_t kHalfway = std::uint64_t{1} << 28;
    constexpr std::uint64_t kMargin = 8;
    return (bits & kBelowFloat) - (kHalfway - kMargin) <= 2 * kMargin;
}

}  // namespace short_decimal

// The digits of one unsigned decimal, gathered while it is scanned.
struct ShortDecimal {
    // The digits as an integer; past 19 digits it wraps around, but ToFloat only
    // uses it for 15 digits or fewer.
    std::uint64_t mantissa = 0;
    std::int64_t digits = 0;
    int fractionDigits = 0;

    // Adds the digits from `p` on; gives the position after them.
    const char* Gather(const char* p, const char* end)
    {
        const char* const first = p;
        for (; p != end && *p >= '0' && *p <= '9'; ++p)
            mantissa = mantissa * 10 + static_cast<std::uint64_t>(*p - '0');
        digits += p - first;
        return p;
    }

    // The correctly rounded float, or false (`value` untouched) when neither path applies.
    bool ToFloat(float& value) const
    {
        static constexpr float kFloatPowers[] = {1e0f, 1e1f, 1e2f, 1e3f, 1e4f, 1e5f, 1e6f, 1e7f};
        static constexpr double kDoublePowers[] = {1e0, 1e1, 1e2,  1e3,  1e4,  1e5,  1e6,  1e7,
                                                   1e8, 1e9, 1e10, 1e11, 1e12, 1e13, 1e14, 1e15};
        static constexpr double kInversePowers[] = {1e-0, 1e-1, 1e-2,  1e-3,  1e-4,  1e-5,  1e-6,  1e-7,
                                                    1e-8, 1e-9, 1e-10, 1e-11, 1e-12, 1e-13, 1e-14, 1e-15};
        if (digits > 15)
            return false;
        const double product = static_cast<double>(mantissa) * kInversePowers[fractionDigits];
        if (!short_decimal::IsNearFloatHalfway(product)) {
            value = static_cast<float>(product);
            return true;
        }
        if (digits <= 7) {
            value = static_cast<float>(mantissa) / kFloatPowers[fractionDigits];
            return true;
        }
        const double nearest = static_cast<double>(mantissa) / kDoublePowers[fractionDigits];
        if (short_decimal::IsFloatHalfway(nearest))
            return false;
        value = static_cast<float>(nearest);
        return true;
    }
};

}  // namespace ase2sgl
