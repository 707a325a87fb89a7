// The descriptor template of the fixed-size scalar kinds (booleans,
// integers, reals, times, durations): the raw form is one number of type RAW
// in machine byte order, compared as that type.
#pragma once

#include <climits>
#include <cmath>
#include <cstring>

#include "kernel/VValueInfo.h"

namespace qelt {

// Truncation toward zero of a double to a 32- or 64-bit integer. NaN gives 0
// and a double outside the integer's range gives its nearest bound, so no
// conversion ever leaves the range of the target type.
inline int TruncateRealToLong(double value)
{
    if (std::isnan(value))
        return 0;
    if (value >= 2147483647.0)
        return INT_MAX;
    if (value <= -2147483648.0)
        return INT_MIN;
    return static_cast<int>(value);
}

inline long long TruncateRealToLong8(double value)
{
    if (std::isnan(value))
        return 0;
    if (value >= 9223372036854775807.0)  // 2^63: the first double beyond the range
        return LLONG_MAX;
    if (value <= -9223372036854775808.0)
        return LLONG_MIN;
    return static_cast<long long>(value);
}

// Reads a raw number of type T from a possibly unaligned address.
template <typename T>
inline T ReadRawScalar(const void* ptr)
{
    T value;
    std::memcpy(&value, ptr, sizeof(T));
    return value;
}

template <typename T>
inline CompareResult CompareRawScalars(T a, T b)
{
    if (a > b)
        return CR_BIGGER;
    if (a < b)
        return CR_SMALLER;
    return CR_EQUAL;
}

// VALUE must offer a constructor from (const RAW*, bool clear) that loads the
// raw value when clear is false.
template <class VALUE, unsigned short KIND, typename RAW>
class VValueInfo_scalar : public VValueInfo {
public:
    using RawType = RAW;

    VValueInfo_scalar() : VValueInfo(KIND) {}

    VValue* Generate() const override { return new VALUE(); }
    VValue* Generate(VBlob*) const override { return new VALUE(); }

    VValue* LoadFromPtr(const void* inPtr, bool = false) const override
    {
        RAW raw = ReadRawScalar<RAW>(inPtr);
        return new VALUE(&raw, false);
    }

    void* ByteSwapPtr(void* inPtr, bool) const override
    {
        unsigned char* p = static_cast<unsigned char*>(inPtr);
        for (size_t i = 0, j = sizeof(RAW) - 1; i < j; ++i, --j) {
            unsigned char c = p[i];
            p[i] = p[j];
            p[j] = c;
        }
        return p + sizeof(RAW);
    }

    CompareResult CompareTwoPtrToData(const void* inPtr1, const void* inPtr2, bool = false) const override
    {
        return CompareRawScalars(ReadRawScalar<RAW>(inPtr1), ReadRawScalar<RAW>(inPtr2));
    }

    CompareResult CompareTwoPtrToDataBegining(const void* inPtr1, const void* inPtr2,
                                              bool inDiacritical = false) const override
    {
        return CompareTwoPtrToData(inPtr1, inPtr2, inDiacritical);
    }

    CompareResult CompareTwoPtrToDataWithOptions(const void* inPtr1, const void* inPtr2,
                                                 const VCompareOptions&) const override
    {
        return CompareRawScalars(ReadRawScalar<RAW>(inPtr1), ReadRawScalar<RAW>(inPtr2));
    }

    unsigned long GetSizeOfValueDataPtr(const void*) const override { return sizeof(RAW); }
    unsigned long GetAvgSpace() const override { return sizeof(RAW); }
};

}  // namespace qelt
