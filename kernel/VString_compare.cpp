// Comparison and search: collation through the task's international text manager (or the
// raw fallback), raw comparison and search, value comparisons and hashing.
#include "kernel/VString.h"

#include <cerrno>
#include <climits>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <type_traits>
#include <vector>
#include <sys/types.h>

#include "kernel/Base64Coder.h"
#include "kernel/StStringConverter.h"
#include "kernel/VCollator.h"
#include "kernel/VCompareOptions.h"
#include "kernel/VCppMemMgr.h"
#include "kernel/VIntlMgr.h"
#include "kernel/VObject.h"
#include "kernel/VTextConverter.h"
#include "kernel/VTextConverters.h"
#include "platform/PlatNumbers.h"
#include "platform/PlatString.h"
#include "kernel/VThrowError.h"
#include "kernel/VString_internal.h"

namespace qelt {

using namespace stringimpl;

// ===========================================================================
// Raw comparison and search

bool VString::EqualToStringRaw(const VString& inString) const
{
    return fLength == inString.fLength &&
           (fLength == 0 || std::memcmp(fString, inString.fString, static_cast<size_t>(fLength) * 2) == 0);
}

namespace {

// Compares up to the first 0 unit of either text (the terminator, or one
// inside the text).
CompareResult CompareToZero(const UniChar* inA, const UniChar* inB, bool inFold)
{
    for (;;) {
        UniChar a = FoldIf(*inA++, inFold);
        UniChar b = FoldIf(*inB++, inFold);
        if (a != b)
            return a < b ? CR_SMALLER : CR_BIGGER;
        if (a == 0)
            return CR_EQUAL;
    }
}

}  // namespace

CompareResult VString::CompareToStringRaw(const VString& inString) const
{
    // Skips the common start four units at a time while both texts agree
    // and hold no 0 unit there; the unit loop settles the rest exactly.
    const UniChar* a = fString;
    const UniChar* b = inString.fString;
    int common = fLength < inString.fLength ? fLength : inString.fLength;
    while (common >= 4) {
        uint64_t wordA;
        uint64_t wordB;
        std::memcpy(&wordA, a, sizeof(wordA));
        std::memcpy(&wordB, b, sizeof(wordB));
        if (wordA != wordB)
            break;
        if (((wordA - 0x0001000100010001ULL) & ~wordA & 0x8000800080008000ULL) != 0)
            return CR_EQUAL;  // both reach the same 0 unit
        a += 4;
        b += 4;
        common -= 4;
    }
    return CompareToZero(a, b, false);
}

CompareResult VString::CompareToStringRawCase(const VString& inString) const
{
    return CompareToZero(fString, inString.fString, true);
}

bool VString::EqualToUSASCIICString(const char* inCString) const
{
    if (inCString == nullptr)
        return fLength == 0;
    int i = 0;
    for (; inCString[i] != 0; ++i) {
        if (i >= fLength)
            return false;
        // Each byte sign-extended to 16 bits, as the C type char reads it.
        UniChar byte = static_cast<UniChar>(static_cast<short>(static_cast<signed char>(inCString[i])));
        if (fString[i] != byte)
            return false;
    }
    return i == fLength || fString[i] == 0;
}

bool VString::BeginsWithRawString(const VString& inString) const
{
    int n = inString.fLength;
    return n <= fLength && (n == 0 || std::memcmp(fString, inString.fString, static_cast<size_t>(n) * 2) == 0);
}

bool VString::EndsWithRawString(const VString& inString) const
{
    int n = inString.fLength;
    return n <= fLength &&
           (n == 0 || std::memcmp(fString + fLength - n, inString.fString, static_cast<size_t>(n) * 2) == 0);
}

int VString::FindRawString(const UniChar* inText, int inTextLength, const UniChar* inPattern, int inPatternLength)
{
    if (inPatternLength <= 0)
        return 1;
    if (inTextLength <= 0 || inPatternLength > inTextLength || inText == nullptr || inPattern == nullptr)
        return 0;
    // Knuth-Morris-Pratt: the failure table lives on the stack for short
    // patterns and in a C-library block for longer ones.
    int stackTable[256];
    int* table = stackTable;
    if (inPatternLength >= 256) {
        table = static_cast<int*>(std::malloc((static_cast<size_t>(inPatternLength) + 1) * sizeof(int)));
        if (table == nullptr) {
            _ThrowError(QeltError(100));
            return 0;
        }
    }
    table[0] = -1;
    int k = -1;
    for (int i = 0; i < inPatternLength; ++i) {
        while (k >= 0 && inPattern[k] != inPattern[i])
            k = table[k];
        ++k;
        table[i + 1] = k;
    }
    int result = 0;
    int m = 0;
    for (int i = 0; i < inTextLength; ++i) {
        while (m >= 0 && inPattern[m] != inText[i])
            m = table[m];
        ++m;
        if (m == inPatternLength) {
            result = i - inPatternLength + 2;
            break;
        }
    }
    if (table != stackTable)
        std::free(table);
    return result;
}

int VString::FindRawString(const VString& inPattern, int inStart) const
{
    if (inStart < 1)
        return 0;
    long long left = static_cast<long long>(fLength) - inStart + 1;
    if (left < inPattern.fLength || left < 0)
        return 0;
    int pos = FindRawString(fString + inStart - 1, static_cast<int>(left), inPattern.fString, inPattern.fLength);
    return pos == 0 ? 0 : pos + inStart - 1;
}

int VString::ExchangeRawString(const VString& inPattern, const VString& inReplacement, int inStart,
                               int inCountToReplace)
{
    if (inCountToReplace < 1 || inPattern.fLength == 0)
        return 0;
    if (inStart < 1)
        inStart = 1;
    int first = FindRawString(inPattern, inStart);
    if (first == 0)
        return 0;
    // Pattern or replacement inside this string's buffer: work on copies.
    if (_Overlaps(inPattern.fString, inPattern.fLength) || _Overlaps(inReplacement.fString, inReplacement.fLength)) {
        VString pattern;
        pattern.FromUniString(inPattern.fString, inPattern.fLength);
        VString replacement;
        replacement.FromUniString(inReplacement.fString, inReplacement.fLength);
        if (pattern.fLength != inPattern.fLength || replacement.fLength != inReplacement.fLength)
            return 0;
        return ExchangeRawString(pattern, replacement, inStart, inCountToReplace);
    }
    const int patLength = inPattern.fLength;
    const int repLength = inReplacement.IsNull() ? 0 : inReplacement.fLength;
    int count = 0;
    if (repLength == patLength) {
        if (!_EnsureWritable(fLength, true))
            return 0;
        int pos = first;
        while (pos != 0 && count < inCountToReplace) {
            CopyUnits(fString + pos - 1, inReplacement.fString, repLength);
            ++count;
            pos = FindRawString(inPattern, pos + patLength);
        }
    } else if (repLength < patLength) {
        if (!_EnsureWritable(fLength, true))
            return 0;
        int write = first - 1;  // output index
        int read = first - 1;   // index of the current occurrence
        int pos = first;
        while (pos != 0 && count < inCountToReplace) {
            int occurrence = pos - 1;
            CopyUnits(fString + write, fString + read, occurrence - read);
            write += occurrence - read;
            CopyUnits(fString + write, inReplacement.fString, repLength);
            write += repLength;
            read = occurrence + patLength;
            ++count;
            if (count < inCountToReplace)
                pos = FindRawString(fString + read, fLength - read, inPattern.fString, patLength);
            else
                pos = 0;
            if (pos != 0)
                pos += read;
        }
        CopyUnits(fString + write, fString + read, fLength - read);
        write += fLength - read;
        fLength = write;
    } else {
        // Longer replacement: collect the occurrences first.
        std::vector<int> offsets;
        offsets.reserve(1024);
        int pos = first;
        while (pos != 0 && static_cast<int>(offsets.size()) < inCountToReplace) {
            offsets.push_back(pos - 1);
            pos = FindRawString(inPattern, pos + patLength);
        }
        count = static_cast<int>(offsets.size());
        long long finalLength = fLength + static_cast<long long>(repLength - patLength) * count;
        if (finalLength > INT_MAX - 8) {
            _ThrowError(kErrorStringSize);
            return 0;
        }
        int oldLength = fLength;
        if (!_EnsureWritable(static_cast<int>(finalLength), true))
            return 0;
        // Move the text after the first occurrence to the end, then lay out
        // replacements and the stretches between occurrences left to right.
        int tail = oldLength - offsets[0];
        int tailStart = static_cast<int>(finalLength) - tail;
        CopyUnits(fString + tailStart, fString + offsets[0], tail);
        int write = offsets[0];
        for (int i = 0; i < count; ++i) {
            CopyUnits(fString + write, inReplacement.fString, repLength);
            write += repLength;
            int from = offsets[i] + patLength;
            int to = i + 1 < count ? offsets[i + 1] : oldLength;
            CopyUnits(fString + write, fString + tailStart + (from - offsets[0]), to - from);
            write += to - from;
        }
        fLength = static_cast<int>(finalLength);
    }
    fString[fLength] = 0;
    _SetTextWritten();
    return count;
}

int VString::FindUniChar(UniChar inChar, int inStart, bool inBackwards) const
{
    if (fLength == 0 || inStart > fLength)
        return 0;
    if (inStart < 1)
        inStart = 1;
    if (inBackwards) {
        for (int i = inStart; i >= 1; --i) {
            if (fString[i - 1] == inChar)
                return i;
        }
        return 0;
    }
    for (int i = inStart; i <= fLength; ++i) {
        if (fString[i - 1] == inChar)
            return i;
    }
    return 0;
}

// ===========================================================================
// Collation

bool VString::EqualToString(const VString& inString, bool inDiacritical) const
{
    return Intl::Equal(CurrentIntl(), fString, fLength, inString.fString, inString.fLength, inDiacritical);
}

CompareResult VString::CompareToString(const VString& inString, bool inDiacritical) const
{
    return Intl::Compare(CurrentIntl(), fString, fLength, inString.fString, inString.fLength, inDiacritical);
}

bool VString::EqualToString_Like(const VString& inPattern, bool inDiacritical) const
{
    return Intl::EqualLike(CurrentIntl(), fString, fLength, inPattern.fString, inPattern.fLength, inDiacritical);
}

CompareResult VString::CompareToString_Like(const VString& inPattern, bool inDiacritical) const
{
    return Intl::CompareLike(CurrentIntl(), fString, fLength, inPattern.fString, inPattern.fLength, inDiacritical);
}

bool VString::BeginsWith(const VString& inPrefix, bool inDiacritical) const
{
    // A window of 16 units beyond the prefix lets a collation that ignores
    // some characters still find it.
    long long window = static_cast<long long>(inPrefix.fLength) + 16;
    int length = window < fLength ? static_cast<int>(window) : fLength;
    return CollatorBeginsWith(Intl::GetCollator(CurrentIntl()), fString, length, inPrefix.fString, inPrefix.fLength,
                              inDiacritical);
}

bool VString::EndsWith(const VString& inSuffix, bool inDiacritical) const
{
    return CollatorEndsWith(Intl::GetCollator(CurrentIntl()), fString, fLength, inSuffix.fString, inSuffix.fLength,
                            inDiacritical);
}

int VString::Find(const VString& inPattern, int inStart, bool inDiacritical) const
{
    if (inStart < 1)
        inStart = 1;
    if (inStart > fLength + 1)
        return 0;
    int pos = CollatorFind(Intl::GetCollator(CurrentIntl()), fString + inStart - 1, fLength - inStart + 1,
                           inPattern.fString, inPattern.fLength, inDiacritical, nullptr);
    return pos == 0 ? 0 : inStart + pos - 1;
}

void VString::Exchange(const VString& inPattern, const VString& inReplacement, int inStart, int inCountToReplace,
                       bool inDiacritical, VCollator* inCollator)
{
    if (inCountToReplace < 1)
        return;
    if (inStart < 1)
        inStart = 1;
    if (inStart > fLength + 1)
        return;
    auto* collator = inCollator != nullptr ? inCollator : Intl::GetCollator(CurrentIntl());
    int matched = 0;
    int pos = CollatorFind(collator, fString + inStart - 1, fLength - inStart + 1, inPattern.fString,
                           inPattern.fLength, inDiacritical, &matched);
    if (pos == 0 || matched < 1)
        return;
    VString result;
    if (!result._ReallocBuffer(fLength, false))
        return;
    int done = 0;
    int from = 0;                     // index after the previous match
    int at = inStart - 1 + pos - 1;  // index of the current match
    result.AppendUniChars(fString, inStart - 1);
    from = inStart - 1;
    while (pos != 0 && matched >= 1 && done < inCountToReplace) {
        result.AppendUniChars(fString + from, at - from);
        result.AppendString(inReplacement);
        from = at + matched;
        ++done;
        if (done >= inCountToReplace || from >= fLength)
            break;
        pos = CollatorFind(collator, fString + from, fLength - from, inPattern.fString, inPattern.fLength,
                           inDiacritical, &matched);
        at = from + pos - 1;
    }
    result.AppendUniChars(fString + from, fLength - from);
    Swap(result);
}

// Value comparisons.

namespace {

CompareResult CompareUnits(VIntlMgr* inIntl, bool inLike, const UniChar* inA, int inALength, const UniChar* inB,
                           int inBLength, bool inDiacritical)
{
    return inLike ? Intl::CompareLike(inIntl, inA, inALength, inB, inBLength, inDiacritical)
                  : Intl::Compare(inIntl, inA, inALength, inB, inBLength, inDiacritical);
}

bool EqualUnits(VIntlMgr* inIntl, bool inLike, const UniChar* inA, int inALength, const UniChar* inB, int inBLength,
                bool inDiacritical)
{
    return inLike ? Intl::EqualLike(inIntl, inA, inALength, inB, inBLength, inDiacritical)
                  : Intl::Equal(inIntl, inA, inALength, inB, inBLength, inDiacritical);
}

}  // namespace

CompareResult VString::CompareToSameKind(const VValue* inValue, bool inDiacritical) const
{
    const VString* other = static_cast<const VString*>(inValue);
    return Intl::Compare(CurrentIntl(), fString, fLength, other->fString, other->fLength, inDiacritical);
}

CompareResult VString::CompareBeginingToSameKind(const VValue* inValue, bool inDiacritical) const
{
    const VString* other = static_cast<const VString*>(inValue);
    return Intl::Compare(CurrentIntl(), fString, MinLength(fLength, other->fLength), other->fString, other->fLength,
                         inDiacritical);
}

bool VString::EqualToSameKind(const VValue* inValue, bool inDiacritical) const
{
    const VString* other = static_cast<const VString*>(inValue);
    return Intl::Equal(CurrentIntl(), fString, fLength, other->fString, other->fLength, inDiacritical);
}

CompareResult VString::CompareToSameKind_Like(const VValue* inValue, bool inDiacritical) const
{
    const VString* other = static_cast<const VString*>(inValue);
    return Intl::CompareLike(CurrentIntl(), fString, fLength, other->fString, other->fLength, inDiacritical);
}

CompareResult VString::CompareBeginingToSameKind_Like(const VValue* inValue, bool inDiacritical) const
{
    const VString* other = static_cast<const VString*>(inValue);
    return Intl::CompareLike(CurrentIntl(), fString, MinLength(fLength, other->fLength), other->fString,
                             other->fLength, inDiacritical);
}

bool VString::EqualToSameKind_Like(const VValue* inValue, bool inDiacritical) const
{
    const VString* other = static_cast<const VString*>(inValue);
    return Intl::EqualLike(CurrentIntl(), fString, fLength, other->fString, other->fLength, inDiacritical);
}

CompareResult VString::CompareToSameKindPtr(const void* inPtrToValueData, bool inDiacritical) const
{
    RawText raw = ReadRawForm(inPtrToValueData);
    return Intl::Compare(CurrentIntl(), fString, fLength, raw.fUnits, raw.fLength, inDiacritical);
}

CompareResult VString::Swap_CompareToSameKindPtr(const void* inPtrToValueData, bool inDiacritical) const
{
    RawText raw = ReadRawForm(inPtrToValueData);
    return Intl::Compare(CurrentIntl(), raw.fUnits, raw.fLength, fString, fLength, inDiacritical);
}

CompareResult VString::CompareBeginingToSameKindPtr(const void* inPtrToValueData, bool inDiacritical) const
{
    RawText raw = ReadRawForm(inPtrToValueData);
    return Intl::Compare(CurrentIntl(), fString, MinLength(fLength, raw.fLength), raw.fUnits, raw.fLength,
                         inDiacritical);
}

CompareResult VString::IsTheBeginingToSameKindPtr(const void* inPtrToValueData, bool inDiacritical) const
{
    RawText raw = ReadRawForm(inPtrToValueData);
    return Intl::Compare(CurrentIntl(), fString, fLength, raw.fUnits, MinLength(raw.fLength, fLength),
                         inDiacritical);
}

bool VString::EqualToSameKindPtr(const void* inPtrToValueData, bool inDiacritical) const
{
    RawText raw = ReadRawForm(inPtrToValueData);
    return Intl::Equal(CurrentIntl(), fString, fLength, raw.fUnits, raw.fLength, inDiacritical);
}

CompareResult VString::CompareToSameKindPtr_Like(const void* inPtrToValueData, bool inDiacritical) const
{
    RawText raw = ReadRawForm(inPtrToValueData);
    return Intl::CompareLike(CurrentIntl(), fString, fLength, raw.fUnits, raw.fLength, inDiacritical);
}

CompareResult VString::Swap_CompareToSameKindPtr_Like(const void* inPtrToValueData, bool inDiacritical) const
{
    RawText raw = ReadRawForm(inPtrToValueData);
    return Intl::CompareLike(CurrentIntl(), raw.fUnits, raw.fLength, fString, fLength, inDiacritical);
}

CompareResult VString::CompareBeginingToSameKindPtr_Like(const void* inPtrToValueData, bool inDiacritical) const
{
    RawText raw = ReadRawForm(inPtrToValueData);
    return Intl::CompareLike(CurrentIntl(), fString, MinLength(fLength, raw.fLength), raw.fUnits, raw.fLength,
                             inDiacritical);
}

CompareResult VString::IsTheBeginingToSameKindPtr_Like(const void* inPtrToValueData, bool inDiacritical) const
{
    RawText raw = ReadRawForm(inPtrToValueData);
    return Intl::CompareLike(CurrentIntl(), fString, fLength, raw.fUnits, MinLength(raw.fLength, fLength),
                             inDiacritical);
}

bool VString::EqualToSameKindPtr_Like(const void* inPtrToValueData, bool inDiacritical) const
{
    RawText raw = ReadRawForm(inPtrToValueData);
    return Intl::EqualLike(CurrentIntl(), fString, fLength, raw.fUnits, raw.fLength, inDiacritical);
}

bool VString::Swap_EqualToSameKindPtr_Like(const void* inPtrToValueData, bool inDiacritical) const
{
    RawText raw = ReadRawForm(inPtrToValueData);
    return Intl::EqualLike(CurrentIntl(), raw.fUnits, raw.fLength, fString, fLength, inDiacritical);
}

CompareResult VString::CompareToSameKindWithOptions(const VValue* inValue, const VCompareOptions& inOptions) const
{
    const VString* other = static_cast<const VString*>(inValue);
    int length = inOptions.IsBeginsWith() ? MinLength(fLength, other->fLength) : fLength;
    return CompareUnits(inOptions.GetIntlMgr(), inOptions.IsLike(), fString, length, other->fString, other->fLength,
                        inOptions.IsDiacritical());
}

bool VString::EqualToSameKindWithOptions(const VValue* inValue, const VCompareOptions& inOptions) const
{
    const VString* other = static_cast<const VString*>(inValue);
    return EqualUnits(inOptions.GetIntlMgr(), inOptions.IsLike(), fString, fLength, other->fString, other->fLength,
                      inOptions.IsDiacritical());
}

CompareResult VString::CompareToSameKindPtrWithOptions(const void* inPtrToValueData,
                                                       const VCompareOptions& inOptions) const
{
    RawText raw = ReadRawForm(inPtrToValueData);
    int a = fLength, b = raw.fLength;
    if (inOptions.IsBeginsWith())
        a = b = MinLength(a, b);
    return CompareUnits(inOptions.GetIntlMgr(), inOptions.IsLike(), fString, a, raw.fUnits, b,
                        inOptions.IsDiacritical());
}

CompareResult VString::Swap_CompareToSameKindPtrWithOptions(const void* inPtrToValueData,
                                                            const VCompareOptions& inOptions) const
{
    RawText raw = ReadRawForm(inPtrToValueData);
    int a = raw.fLength, b = fLength;
    if (inOptions.IsBeginsWith())
        a = b = MinLength(a, b);
    return CompareUnits(inOptions.GetIntlMgr(), inOptions.IsLike(), raw.fUnits, a, fString, b,
                        inOptions.IsDiacritical());
}

bool VString::EqualToSameKindPtrWithOptions(const void* inPtrToValueData, const VCompareOptions& inOptions) const
{
    RawText raw = ReadRawForm(inPtrToValueData);
    return EqualUnits(inOptions.GetIntlMgr(), inOptions.IsLike(), fString, fLength, raw.fUnits, raw.fLength,
                      inOptions.IsDiacritical());
}

CompareResult VString::CompareTo(const VValueSingle& inValue, bool inDiacritical) const
{
    const VString* other = dynamic_cast<const VString*>(&inValue);
    if (other != nullptr)
        return Intl::Compare(CurrentIntl(), fString, fLength, other->fString, other->fLength, inDiacritical);
    VStr<255> text;
    inValue.GetString(text);
    return Intl::Compare(CurrentIntl(), fString, fLength, text.fString, text.fLength, inDiacritical);
}

// ===========================================================================
// Hashing and similarity

unsigned int VString::GetHashValue() const
{
    const unsigned int n = static_cast<unsigned int>(fLength);
    unsigned int h = n;
    if (fLength <= 16) {
        for (int i = 0; i < fLength; ++i)
            h = h * 257 + fString[i];
    } else {
        for (int i = 0; i < 8; ++i)
            h = h * 257 + fString[i];
        for (int i = fLength - 8; i < fLength; ++i)
            h = h * 257 + fString[i];
    }
    return h + (h << (n % 32));
}

double VString::SimilarToString(const VString& inString) const
{
    if (fLength == 0 || inString.fLength == 0)
        return 0;
    const int m = inString.fLength;
    unsigned int* previous = static_cast<unsigned int*>(std::calloc(static_cast<size_t>(m) + 1, sizeof(unsigned int)));
    unsigned int* current = static_cast<unsigned int*>(std::calloc(static_cast<size_t>(m) + 1, sizeof(unsigned int)));
    if (previous == nullptr || current == nullptr) {
        std::free(previous);
        std::free(current);
        _ThrowError(QeltError(100));
        return 0;
    }
    for (int i = 1; i <= fLength; ++i) {
        for (int j = 1; j <= m; ++j) {
            if (fString[i - 1] == inString.fString[j - 1])
                current[j] = previous[j - 1] + 1;
            else
                current[j] = previous[j] > current[j - 1] ? previous[j] : current[j - 1];
        }
        std::swap(previous, current);
    }
    float common = static_cast<float>(previous[m]);
    std::free(previous);
    std::free(current);
    return common / static_cast<double>(fLength);
}

// ===========================================================================
// VString_info comparisons of raw forms

CompareResult VString_info::CompareTwoPtrToData(const void* inPtr1, const void* inPtr2, bool inDiacritical) const
{
    RawText a = ReadRawForm(inPtr1), b = ReadRawForm(inPtr2);
    return Intl::Compare(CurrentIntl(), a.fUnits, a.fLength, b.fUnits, b.fLength, inDiacritical);
}

CompareResult VString_info::CompareTwoPtrToDataBegining(const void* inPtr1, const void* inPtr2,
                                                        bool inDiacritical) const
{
    RawText a = ReadRawForm(inPtr1), b = ReadRawForm(inPtr2);
    return Intl::Compare(CurrentIntl(), a.fUnits, MinLength(a.fLength, b.fLength), b.fUnits, b.fLength, inDiacritical);
}

CompareResult VString_info::CompareTwoPtrToData_Like(const void* inPtr1, const void* inPtr2, bool inDiacritical) const
{
    RawText a = ReadRawForm(inPtr1), b = ReadRawForm(inPtr2);
    return Intl::CompareLike(CurrentIntl(), a.fUnits, a.fLength, b.fUnits, b.fLength, inDiacritical);
}

CompareResult VString_info::CompareTwoPtrToDataBegining_Like(const void* inPtr1, const void* inPtr2,
                                                             bool inDiacritical) const
{
    RawText a = ReadRawForm(inPtr1), b = ReadRawForm(inPtr2);
    return Intl::CompareLike(CurrentIntl(), a.fUnits, MinLength(a.fLength, b.fLength), b.fUnits, b.fLength,
                             inDiacritical);
}

CompareResult VString_info::CompareTwoPtrToDataWithOptions(const void* inPtr1, const void* inPtr2,
                                                           const VCompareOptions& inOptions) const
{
    RawText a = ReadRawForm(inPtr1), b = ReadRawForm(inPtr2);
    int la = a.fLength, lb = b.fLength;
    if (inOptions.IsBeginsWith())
        la = lb = MinLength(la, lb);
    return CompareUnits(inOptions.GetIntlMgr(), inOptions.IsLike(), a.fUnits, la, b.fUnits, lb,
                        inOptions.IsDiacritical());
}

}  // namespace qelt
