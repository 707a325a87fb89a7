// The table of powers of five, computed by the compiler from the integers
// themselves: positive powers by repeated multiplication by 5, negative ones
// as floor(2^1024 / 5^n) by repeated division by 5 (floor(floor(a / b) / c)
// is floor(a / (b c)), so nothing is lost along the way). Each entry keeps the
// top 128 bits of its integer, truncated.
#include "json/VDecimalToDouble.h"

namespace qelt {

namespace {

constexpr int kPowerEntries = VDecimalToDouble::kMaxExponent - VDecimalToDouble::kMinExponent + 1;

// An unsigned integer of 32-bit limbs, lowest first, wide enough for 2^1024
// and for 5^308 (716 bits).
struct PowerDigits {
    static constexpr int kLimbs = 33;
    uint32_t fLimbs[kLimbs] = {};

    constexpr int BitLength() const
    {
        for (int i = kLimbs - 1; i >= 0; --i) {
            if (fLimbs[i] != 0)
                return i * 32 + 32 - std::countl_zero(fLimbs[i]);
        }
        return 0;
    }
    constexpr int Bit(int inIndex) const
    {
        return inIndex < 0 ? 0 : static_cast<int>((fLimbs[inIndex / 32] >> (inIndex % 32)) & 1);
    }
    constexpr void MultiplyByFive()
    {
        uint64_t carry = 0;
        for (uint32_t& limb : fLimbs) {
            const uint64_t product = uint64_t{limb} * 5 + carry;
            limb = static_cast<uint32_t>(product);
            carry = product >> 32;
        }
    }
    constexpr void DivideByFive()
    {
        uint64_t remainder = 0;
        for (int i = kLimbs - 1; i >= 0; --i) {
            const uint64_t part = (remainder << 32) | fLimbs[i];
            fLimbs[i] = static_cast<uint32_t>(part / 5);
            remainder = part % 5;
        }
    }
    // The 128 bits from the top bit down (zeros below bit 0).
    constexpr VDecimalToDouble::PowerOfFive Top128() const
    {
        const int length = BitLength();
        VDecimalToDouble::PowerOfFive top = {0, 0};
        for (int i = 0; i < 128; ++i) {
            const int bit = Bit(length - 1 - i);
            if (i < 64)
                top.fHigh = (top.fHigh << 1) | static_cast<uint64_t>(bit);
            else
                top.fLow = (top.fLow << 1) | static_cast<uint64_t>(bit);
        }
        return top;
    }
};

struct PowerTable {
    std::array<VDecimalToDouble::PowerOfFive, kPowerEntries> fPowers = {};
    std::array<int, kPowerEntries> fBinaryExponents = {};  // 5^e = entry x 2^b (+ less than 2^b)
};

constexpr PowerTable MakePowerTable()
{
    PowerTable table;
    PowerDigits power;
    power.fLimbs[0] = 1;
    for (int e = 0; e <= VDecimalToDouble::kMaxExponent; ++e) {
        const int index = e - VDecimalToDouble::kMinExponent;
        table.fPowers[index] = power.Top128();
        table.fBinaryExponents[index] = power.BitLength() - 128;
        power.MultiplyByFive();
    }
    constexpr int kScale = 1024;
    PowerDigits inverse;
    inverse.fLimbs[kScale / 32] = 1;
    for (int n = 1; n <= -VDecimalToDouble::kMinExponent; ++n) {
        inverse.DivideByFive();
        const int index = -n - VDecimalToDouble::kMinExponent;
        table.fPowers[index] = inverse.Top128();
        table.fBinaryExponents[index] = inverse.BitLength() - 128 - kScale;
    }
    return table;
}

constexpr PowerTable kPowerTable = MakePowerTable();

constexpr bool PowerExponentsAgree()
{
    for (int e = VDecimalToDouble::kMinExponent; e <= VDecimalToDouble::kMaxExponent; ++e) {
        if (kPowerTable.fBinaryExponents[e - VDecimalToDouble::kMinExponent] != VDecimalToDouble::BinaryExponent(e))
            return false;
    }
    return true;
}
static_assert(PowerExponentsAgree(), "the binary exponents of the powers of five");

}  // namespace

constinit const std::array<VDecimalToDouble::PowerOfFive, kPowerEntries> VDecimalToDouble::sPowersOfFive = kPowerTable.fPowers;

}  // namespace qelt
