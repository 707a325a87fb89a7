// Helpers that the VString source files share (VString.cpp and the
// VString_*.cpp files, split along the class's sections). Not part of the
// toolbox's interface: include it only from those files.
#pragma once

#include <cstddef>
#include <cstring>

#include "kernel/VCollator.h"
#include "kernel/VIntlMgr.h"
#include "kernel/VString.h"
#include "kernel/VTaskServices.h"

namespace qelt::stringimpl {

constexpr VError kErrorStringSize = QeltError(107);
constexpr unsigned char kBufferBits = VString::kFlagNotOwned | VString::kFlagExclusive | VString::kFlagCLibBlock;

inline bool IsHighSurrogate(UniChar c) { return c >= 0xD800 && c <= 0xDBFF; }

inline void CopyUnits(UniChar* outDest, const void* inSource, long inCount)
{
    if (inCount > 0)
        std::memmove(outDest, inSource, static_cast<size_t>(inCount) * sizeof(UniChar));
}

// An int with its four bytes reversed.
inline int SwapInt(int inValue)
{
    unsigned int v = static_cast<unsigned int>(inValue);
    v = ((v & 0xFF) << 24) | ((v & 0xFF00) << 8) | ((v >> 8) & 0xFF00) | (v >> 24);
    return static_cast<int>(v);
}

// Length of a C string and whether every byte is below 0x80.
inline size_t ScanCString(const char* inCString, bool& outIsASCII)
{
    const unsigned char* p = reinterpret_cast<const unsigned char*>(inCString);
    unsigned char bits = 0;
    size_t n = 0;
    while (p[n] != 0)
        bits |= p[n++];
    outIsASCII = (bits & 0x80) == 0;
    return n;
}

// ---------------------------------------------------------------------------
// Collation: the current task's international text manager, or the raw
// fallback while the toolbox has none.
//
// Without a manager (before the process object exists, or while the
// international services are absent) every collation operation answers as
// the raw one: units compared by value, A-Z folded to a-z when diacritical
// marks do not count, and LIKE patterns matched with the task's wildcard
// unit. The adapters below call the manager only through the members it
// really offers.

inline UniChar FoldASCII(UniChar c) { return (c >= 'A' && c <= 'Z') ? static_cast<UniChar>(c + 32) : c; }

inline UniChar FoldIf(UniChar c, bool inFold) { return inFold ? FoldASCII(c) : c; }

// Order of two unit sequences by unit value, then by length.
inline CompareResult RawOrder(const UniChar* inA, int inALength, const UniChar* inB, int inBLength, bool inFold)
{
    int common = inALength < inBLength ? inALength : inBLength;
    for (int i = 0; i < common; ++i) {
        UniChar a = FoldIf(inA[i], inFold);
        UniChar b = FoldIf(inB[i], inFold);
        if (a != b)
            return a < b ? CR_SMALLER : CR_BIGGER;
    }
    if (inALength == inBLength)
        return CR_EQUAL;
    return inALength < inBLength ? CR_SMALLER : CR_BIGGER;
}

// LIKE match: the wildcard stands for any run of units, empty included.
// Iterative with one backtrack point, so any pattern costs at most
// text x pattern steps.
inline bool RawLike(const UniChar* inText, int inTextLength, const UniChar* inPattern, int inPatternLength, bool inFold,
             UniChar inWild)
{
    int t = 0, p = 0, starP = -1, starT = 0;
    while (t < inTextLength) {
        if (p < inPatternLength && inPattern[p] == inWild) {
            starP = p++;
            starT = t;
        } else if (p < inPatternLength && FoldIf(inPattern[p], inFold) == FoldIf(inText[t], inFold)) {
            ++p;
            ++t;
        } else if (starP >= 0) {
            p = starP + 1;
            t = ++starT;
        } else {
            return false;
        }
    }
    while (p < inPatternLength && inPattern[p] == inWild)
        ++p;
    return p == inPatternLength;
}

// Raw search: 1-based position of the first occurrence, 0 when none.
inline int RawFind(const UniChar* inText, int inTextLength, const UniChar* inPattern, int inPatternLength, bool inFold)
{
    if (inPatternLength <= 0)
        return 1;
    for (long long i = 0; i + inPatternLength <= inTextLength; ++i) {
        int j = 0;
        while (j < inPatternLength && FoldIf(inText[i + j], inFold) == FoldIf(inPattern[j], inFold))
            ++j;
        if (j == inPatternLength)
            return static_cast<int>(i + 1);
    }
    return 0;
}

// The collator side: search with a matched length. Without a collator the
// units are compared raw (case-folded when diacritics do not count).
inline int CollatorFind(VCollator* inCollator, const UniChar* inText, int inTextLength, const UniChar* inPattern,
                 int inPatternLength, bool inDiacritical, int* outMatched)
{
    if (inCollator != nullptr) {
        int matched = 0;
        int pos = inCollator->FindString(inText, inTextLength, inPattern, inPatternLength, inDiacritical, &matched);
        if (outMatched != nullptr)
            *outMatched = pos > 0 ? matched : 0;
        return pos;
    }
    int pos = RawFind(inText, inTextLength, inPattern, inPatternLength, !inDiacritical);
    if (outMatched != nullptr)
        *outMatched = pos > 0 ? inPatternLength : 0;
    return pos;
}

inline bool CollatorBeginsWith(VCollator* inCollator, const UniChar* inText, int inTextLength, const UniChar* inPrefix,
                        int inPrefixLength, bool inDiacritical)
{
    if (inCollator != nullptr)
        return inCollator->BeginsWithString(inText, inTextLength, inPrefix, inPrefixLength, inDiacritical, nullptr);
    if (inPrefixLength > inTextLength)
        return false;
    return RawOrder(inText, inPrefixLength, inPrefix, inPrefixLength, !inDiacritical) == CR_EQUAL;
}

inline bool CollatorEndsWith(VCollator* inCollator, const UniChar* inText, int inTextLength, const UniChar* inSuffix,
                      int inSuffixLength, bool inDiacritical)
{
    if (inCollator != nullptr)
        return inCollator->EndsWithString(inText, inTextLength, inSuffix, inSuffixLength, inDiacritical, nullptr);
    if (inSuffixLength > inTextLength)
        return false;
    return RawOrder(inText + inTextLength - inSuffixLength, inSuffixLength, inSuffix, inSuffixLength,
                    !inDiacritical) == CR_EQUAL;
}

// The manager side. Without a manager (no process object) the units are
// compared raw, case-folded when diacritics do not count, and LIKE patterns
// use the task's wildcard.
struct Intl {
    static VCollator* GetCollator(VIntlMgr* inIntl) { return inIntl != nullptr ? inIntl->GetCollator() : nullptr; }

    static CompareResult Compare(VIntlMgr* inIntl, const UniChar* inA, int inALength, const UniChar* inB,
                                 int inBLength, bool inDiacritical)
    {
        if (inIntl != nullptr)
            return inIntl->CompareString(inA, inALength, inB, inBLength, inDiacritical);
        return RawOrder(inA, inALength, inB, inBLength, !inDiacritical);
    }

    static bool Equal(VIntlMgr* inIntl, const UniChar* inA, int inALength, const UniChar* inB, int inBLength,
                      bool inDiacritical)
    {
        if (inIntl != nullptr)
            return inIntl->EqualString(inA, inALength, inB, inBLength, inDiacritical);
        return inALength == inBLength && RawOrder(inA, inALength, inB, inBLength, !inDiacritical) == CR_EQUAL;
    }

    static CompareResult CompareLike(VIntlMgr* inIntl, const UniChar* inA, int inALength, const UniChar* inB,
                                     int inBLength, bool inDiacritical)
    {
        if (inIntl != nullptr)
            return inIntl->CompareString_Like(inA, inALength, inB, inBLength, inDiacritical);
        if (RawLike(inA, inALength, inB, inBLength, !inDiacritical, GetCurrentTaskWildChar()))
            return CR_EQUAL;
        CompareResult order = RawOrder(inA, inALength, inB, inBLength, !inDiacritical);
        return order == CR_EQUAL ? CR_SMALLER : order;
    }

    static bool EqualLike(VIntlMgr* inIntl, const UniChar* inA, int inALength, const UniChar* inB, int inBLength,
                          bool inDiacritical)
    {
        if (inIntl != nullptr)
            return inIntl->EqualString_Like(inA, inALength, inB, inBLength, inDiacritical);
        return RawLike(inA, inALength, inB, inBLength, !inDiacritical, GetCurrentTaskWildChar());
    }

    // The first unit of the manager's decimal separator; '.' without one.
    static UniChar DecimalSeparator(VIntlMgr* inIntl)
    {
        if (inIntl != nullptr && inIntl->GetDecimalSeparator().GetLength() > 0)
            return inIntl->GetDecimalSeparator().GetCPointer()[0];
        return '.';
    }
};

inline VIntlMgr* CurrentIntl() { return GetCurrentTaskIntlMgr(); }

// A raw form: 32-bit length, then the units.
struct RawText {
    const UniChar* fUnits;
    int fLength;
};

inline RawText ReadRawForm(const void* inPtr)
{
    int length = 0;
    std::memcpy(&length, inPtr, sizeof(length));
    if (length < 0)
        length = 0;
    return RawText{reinterpret_cast<const UniChar*>(static_cast<const char*>(inPtr) + sizeof(int)), length};
}

inline int MinLength(int inA, int inB) { return inA < inB ? inA : inB; }

}  // namespace qelt::stringimpl
