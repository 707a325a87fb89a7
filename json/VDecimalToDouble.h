// The double nearest to a decimal number held as an integer of at most 19
// digits and a power of ten, without the exact reader in all but rare cases.
//
// Digits within 2^53 and a power within 10^+-22 are both exact doubles, and
// the one multiplication or division that joins them rounds once, rightly
// (and costs less than what follows). Otherwise:
// digits x 10^e = digits x 5^e x 2^e. For every e from kMinExponent to
// kMaxExponent a table holds 5^e as a 128-bit integer T with its top bit set
// and a binary exponent b, 5^e = (T + f) x 2^b with 0 <= f < 1 (T is exact
// where 5^e has at most 128 bits). The digits, shifted so that their top bit
// is set (w), times T give a 192-bit product R; the true product w x (T + f)
// lies in [R, R + w), less than 2^64 above R. Rounding to the nearest double
// is a step function that jumps only at the halfway points between two
// doubles, so R and the true product round alike unless a halfway point lies
// in [R, R + 2^64): the conversion then declines, and the caller uses the
// exact reader (where T is exact, R is the true product and a tie is settled
// here). Results below the normal range decline too.
#pragma once

#include <array>
#include <bit>
#include <cstdint>

namespace qelt {

class VDecimalToDouble {
public:
    // The powers of ten the table covers: below it every 19-digit mantissa
    // gives 0, above it every non-zero one is beyond the largest double.
    static constexpr int kMinExponent = -342;
    static constexpr int kMaxExponent = 308;

    struct PowerOfFive {
        uint64_t fHigh;  // top bit always set
        uint64_t fLow;
    };

    // The table entry for 5^inExponent (kMinExponent to kMaxExponent).
    static const PowerOfFive& GetPowerOfFive(int inExponent) { return sPowersOfFive[inExponent - kMinExponent]; }

    // The binary exponent b of the entry: floor(log2(5^e)) - 127 (152170 /
    // 2^16 is close enough to log2(5) over the table; the table's build
    // checks every entry).
    static constexpr int BinaryExponent(int inExponent) { return ((inExponent * 152170) >> 16) - 127; }

    // Stores in outValue the double nearest to inDigits x 10^inExponent
    // (negated when inNegative), ties to even: zero for no digits or a power
    // below the table, infinity beyond the largest double. False, having
    // stored nothing, when the result lies below the normal range or the
    // product is too close to a halfway point to decide.
    static bool Convert(uint64_t inDigits, int inExponent, bool inNegative, double& outValue)
    {
        uint64_t bits;
        if (inDigits == 0 || inExponent < kMinExponent) {
            bits = 0;
        } else if (inExponent > kMaxExponent) {
            bits = kInfinityBits;
        } else if (inDigits <= (uint64_t{1} << 53) && inExponent >= -22 && inExponent <= 22) {
            // The digits and the power of ten are exact doubles: the one
            // multiplication or division rounds once, the right way.
            double value = static_cast<double>(inDigits);
            if (inExponent >= 0)
                value *= kExactPowersOfTen[inExponent];
            else
                value /= kExactPowersOfTen[-inExponent];
            outValue = inNegative ? -value : value;
            return true;
        } else {
            const PowerOfFive& power = GetPowerOfFive(inExponent);
            const int shift = std::countl_zero(inDigits);
            const uint64_t w = inDigits << shift;
            const unsigned __int128 high = static_cast<unsigned __int128>(w) * power.fHigh;
            const unsigned __int128 low = static_cast<unsigned __int128>(w) * power.fLow;
            // R = r2:r1:r0 = (high << 64) + low; R >= 2^190 as both factors
            // have their top bit set.
            const unsigned __int128 middle = static_cast<uint64_t>(high) + (low >> 64);
            const uint64_t r0 = static_cast<uint64_t>(low);
            const uint64_t r1 = static_cast<uint64_t>(middle);
            const uint64_t r2 = static_cast<uint64_t>(high >> 64) + static_cast<uint64_t>(middle >> 64);
            // 54 bits of r2: the 53 of the result and the one below them.
            const int top = static_cast<int>(r2 >> 63);
            const int below = 9 + top;
            const uint64_t half = uint64_t{1} << below;
            const uint64_t fraction = r2 & ((half << 1) - 1);  // the bit below the result and the rest of r2
            uint64_t mantissa = r2 >> below;
            if ((fraction == half && (r1 | r0) == 0) || (fraction == half - 1 && r1 == ~uint64_t{0})) [[unlikely]] {
                // On a halfway point, or less than 2^64 under one. Up to
                // 5^55 the entry is exact, and so is R: a tie goes to the
                // even neighbour, what lies under it is rounded down.
                if (inExponent < 0 || inExponent > kLastExactPower)
                    return false;
                mantissa = fraction == half ? (mantissa >> 1) + ((mantissa >> 1) & 1) : mantissa >> 1;
            } else {
                mantissa = (mantissa + 1) >> 1;  // adds the bit below the result
            }
            // The mantissa's lowest bit weighs 2^(138 + top) in R, and R
            // weighs 2^(b + e - shift).
            int exponent = 138 + top + BinaryExponent(inExponent) + inExponent - shift + 52 + 1023;
            if (mantissa == (uint64_t{1} << 53)) {
                mantissa >>= 1;
                ++exponent;
            }
            if (exponent <= 0)
                return false;
            if (exponent >= 2047)
                bits = kInfinityBits;
            else
                bits = (static_cast<uint64_t>(exponent) << 52) | (mantissa & ((uint64_t{1} << 52) - 1));
        }
        if (inNegative)
            bits |= uint64_t{1} << 63;
        outValue = std::bit_cast<double>(bits);
        return true;
    }

private:
    static constexpr int kLastExactPower = 55;  // 5^55 < 2^128 < 5^56
    static constexpr uint64_t kInfinityBits = uint64_t{0x7FF} << 52;
    static constexpr double kExactPowersOfTen[] = {1e0,  1e1,  1e2,  1e3,  1e4,  1e5,  1e6,  1e7,
                                                   1e8,  1e9,  1e10, 1e11, 1e12, 1e13, 1e14, 1e15,
                                                   1e16, 1e17, 1e18, 1e19, 1e20, 1e21, 1e22};
    static const std::array<PowerOfFive, kMaxExponent - kMinExponent + 1> sPowersOfFive;
};

}  // namespace qelt
