#include "kernel/VCollator.h"

#include <new>

#include "kernel/VIntlMgr.h"
#include "kernel/VString.h"
#include "kernel/VSystem.h"
#include "kernel/mac/XMacIntlMgr.h"
#include "platform/PlatLocale.h"

namespace qelt {

namespace {

// Units the ASCII walk of LIKE equality skips in both texts: controls other
// than tab, line feed, vertical tab, form feed and carriage return.
inline bool IsSkippedControl(UniChar c)
{
    return c <= 8 || (c >= 14 && c <= 31) || c == 127;
}

inline UniChar FoldASCII(UniChar c)
{
    return (c >= 'a' && c <= 'z') ? static_cast<UniChar>(c - 32) : c;
}

inline bool IsKana(UniChar c)
{
    return (c >= 0x3040 && c <= 0x3094) || (c >= 0x309D && c <= 0x309E) || (c >= 0x30A1 && c <= 0x30FE) ||
           (c >= 0xFF65 && c <= 0xFF9F);
}

}  // namespace

// ---------------------------------------------------------------------------
// VCollator

VCollator::VCollator(unsigned int inDialectCode, unsigned char inOptions)
    : fDialectCode(inDialectCode), fWildChar(sDefaultWildChar), fOptions(inOptions)
{
}

VCollator::VCollator(const VCollator& inOther)
    : VObject(inOther),
      IRefCountable(),
      fDialectCode(inOther.fDialectCode),
      fWildChar(inOther.fWildChar),
      fOptions(inOther.fOptions)
{
}

VCollator::~VCollator() = default;

void VCollator::SetWildChar(UniChar inWildChar)
{
    fWildChar = inWildChar;
}

void VCollator::Reset()
{
    SetWildChar(sDefaultWildChar);
}

bool VCollator::BeginsWithString(const UniChar* inText, int inSize, const UniChar* inPattern, int inPatternSize,
                                 bool inWithDiacritics, int* outLength)
{
    if (outLength != nullptr)
        *outLength = 0;
    if (inPatternSize <= 0)
        return true;
    int length = 0;
    if (FindString(inText, inSize, inPattern, inPatternSize, inWithDiacritics, &length) != 1)
        return false;
    if (outLength != nullptr)
        *outLength = length;
    return true;
}

// The 0-based start of the last occurrence of the pattern, found by repeated
// searches each starting one unit after the previous occurrence; -1 when none.
static int FindLastOccurrence(VCollator& inCollator, const UniChar* inText, int inSize, const UniChar* inPattern,
                              int inPatternSize, bool inWithDiacritics, int* outLength)
{
    int last = -1;
    int lastLength = 0;
    int from = 0;
    while (from < inSize) {
        int length = 0;
        int pos = inCollator.FindString(inText + from, inSize - from, inPattern, inPatternSize, inWithDiacritics,
                                        &length);
        if (pos <= 0)
            break;
        last = from + pos - 1;
        lastLength = length;
        from = last + 1;
    }
    if (outLength != nullptr)
        *outLength = last >= 0 ? lastLength : 0;
    return last;
}

bool VCollator::EndsWithString(const UniChar* inText, int inSize, const UniChar* inPattern, int inPatternSize,
                               bool inWithDiacritics, int* outLength)
{
    if (outLength != nullptr)
        *outLength = 0;
    if (inPatternSize <= 0)
        return true;
    int last = FindLastOccurrence(*this, inText, inSize, inPattern, inPatternSize, inWithDiacritics, nullptr);
    if (last < 0)
        return false;
    int tail = inSize - last;
    if (!EqualString(inText + last, tail, inPattern, inPatternSize, inWithDiacritics))
        return false;
    if (outLength != nullptr)
        *outLength = tail;
    return true;
}

CompareResult VCollator::CompareString_Like(const UniChar* inText, int inSize, const UniChar* inPattern,
                                            int inPatternSize, bool inWithDiacritics)
{
    if ((fOptions & kOptionWildCharOnlyAtEnds) != 0)
        return _CompareString_Like_IgnoreWildCharInMiddle(inText, inSize, inPattern, inPatternSize, inWithDiacritics);
    return _CompareString_Like_SupportWildCharInMiddle(inText, inSize, inPattern, inPatternSize, inWithDiacritics);
}

CompareResult VCollator::_CompareString_Like_SupportWildCharInMiddle(const UniChar* inText, int inSize,
                                                                     const UniChar* inPattern, int inPatternSize,
                                                                     bool inWithDiacritics)
{
    if (inSize < 0)
        inSize = 0;
    if (inPatternSize <= 0)
        return CompareString(inText, inSize, inPattern, 0, inWithDiacritics);
    const UniChar wild = fWildChar;
    int t = 0;
    int p = 0;
    for (;;) {
        if (p < inPatternSize && inPattern[p] != wild) {
            int end = p;
            while (end < inPatternSize && inPattern[end] != wild)
                ++end;
            if (end == inPatternSize)
                return CompareString(inText + t, inSize - t, inPattern + p, inPatternSize - p, inWithDiacritics);
            int length = 0;
            if (!BeginsWithString(inText + t, inSize - t, inPattern + p, end - p, inWithDiacritics, &length))
                return CompareString(inText + t, inSize - t, inPattern + p, end - p, inWithDiacritics);
            t += length;
            p = end;
            continue;
        }
        while (p < inPatternSize && inPattern[p] == wild)
            ++p;
        if (p == inPatternSize)
            return CR_EQUAL;
        int end = p;
        while (end < inPatternSize && inPattern[end] != wild)
            ++end;
        if (end < inPatternSize) {
            int length = 0;
            int pos = FindString(inText + t, inSize - t, inPattern + p, end - p, inWithDiacritics, &length);
            if (pos <= 0)
                return CR_SMALLER;
            t += pos - 1 + length;
            if (t > inSize)
                t = inSize;
            p = end;
            continue;
        }
        // The last segment: the last occurrence in the rest decides.
        int last = FindLastOccurrence(*this, inText + t, inSize - t, inPattern + p, end - p, inWithDiacritics, nullptr);
        if (last < 0)
            return CR_SMALLER;
        return CompareString(inText + t + last, inSize - t - last, inPattern + p, end - p, inWithDiacritics) == CR_EQUAL
                   ? CR_EQUAL
                   : CR_SMALLER;
    }
}

CompareResult VCollator::_CompareString_Like_IgnoreWildCharInMiddle(const UniChar* inText, int inSize,
                                                                    const UniChar* inPattern, int inPatternSize,
                                                                    bool inWithDiacritics)
{
    if (inSize < 0)
        inSize = 0;
    const UniChar wild = fWildChar;
    bool atStart = inPatternSize > 0 && inPattern[0] == wild;
    bool atEnd = inPatternSize > 0 && inPattern[inPatternSize - 1] == wild;
    if (!atStart && !atEnd)
        return CompareString(inText, inSize, inPattern, inPatternSize < 0 ? 0 : inPatternSize, inWithDiacritics);
    if (atStart && atEnd) {
        if (inPatternSize <= 2)
            return CR_EQUAL;
        if (FindString(inText, inSize, inPattern + 1, inPatternSize - 2, inWithDiacritics, nullptr) > 0)
            return CR_EQUAL;
        return inPatternSize < inSize ? CR_BIGGER : CR_SMALLER;
    }
    if (atEnd) {
        if (BeginsWithString(inText, inSize, inPattern, inPatternSize - 1, inWithDiacritics, nullptr))
            return CR_EQUAL;
        return CompareString(inText, inSize, inPattern, inPatternSize - 1, inWithDiacritics);
    }
    if (EndsWithString(inText, inSize, inPattern + 1, inPatternSize - 1, inWithDiacritics, nullptr))
        return CR_EQUAL;
    return inPatternSize < inSize ? CR_BIGGER : CR_SMALLER;
}

bool VCollator::EqualString_Like(const UniChar* inText, int inSize, const UniChar* inPattern, int inPatternSize,
                                 bool inWithDiacritics)
{
    if (inSize < 0 || inText == nullptr)
        inSize = 0;
    if (inPatternSize < 0 || inPattern == nullptr)
        inPatternSize = 0;
    const UniChar wild = fWildChar;
    const bool wildOnlyAtEnds = (fOptions & kOptionWildCharOnlyAtEnds) != 0;
    int i = 0;
    int j = 0;
    for (;;) {
        while (i < inSize && IsSkippedControl(inText[i]))
            ++i;
        while (j < inPatternSize && IsSkippedControl(inPattern[j]))
            ++j;
        if (j == inPatternSize) {
            if (i == inSize)
                return true;
            if (inText[i] < 127)
                return false;
            return CompareString_Like(inText, inSize, inPattern, inPatternSize, inWithDiacritics) == CR_EQUAL;
        }
        if (i == inSize) {
            while (j < inPatternSize && (inPattern[j] == wild || IsSkippedControl(inPattern[j])))
                ++j;
            if (j == inPatternSize)
                return true;
            if (inPattern[j] < 127)
                return false;
            return CompareString_Like(inText, inSize, inPattern, inPatternSize, inWithDiacritics) == CR_EQUAL;
        }
        UniChar tc = inText[i];
        UniChar pc = inPattern[j];
        bool special = tc > 127 || pc > 127 || tc == 0x60 || pc == 0x60 || tc == 0x5E || pc == 0x5E;
        if (special || pc == wild) {
            if (pc == wild && j == inPatternSize - 1)
                return true;
            bool wildAsUnit = !special && pc == wild && wildOnlyAtEnds && j > 0;
            if (!wildAsUnit)
                return CompareString_Like(inText + i, inSize - i, inPattern + j, inPatternSize - j,
                                          inWithDiacritics) == CR_EQUAL;
        }
        if (inWithDiacritics) {
            if (tc != pc)
                return false;
        } else if (FoldASCII(tc) != FoldASCII(pc)) {
            return false;
        }
        ++i;
        ++j;
    }
}

bool VCollator::IsPatternCompatibleWithDichotomyAndDiacritics(const UniChar* inPattern, int inSize)
{
    if (inPattern == nullptr || inSize <= 0)
        return true;
    int first = -1;
    for (int i = 0; i < inSize; ++i) {
        if (inPattern[i] == sDefaultWildChar) {
            first = i;
            break;
        }
    }
    if (first < 0)
        return true;
    if (first != inSize - 1)
        return false;
    for (int i = 0; i < inSize; ++i) {
        if (IsKana(inPattern[i]))
            return false;
    }
    return true;
}

// ---------------------------------------------------------------------------
// VCollator_system

VCollator_system::VCollator_system(unsigned int inDialectCode, plat::PlatLocale* inLocale)
    : VCollator(inDialectCode, 1), fCompare(inLocale)
{
}

VCollator_system::VCollator_system(const VCollator_system& inOther) : VCollator(inOther), fCompare(inOther.fCompare)
{
}

VCollator_system::~VCollator_system() = default;

VCollator_system* VCollator_system::Create(unsigned int inDialectCode, VIntlMgr* inManager)
{
    plat::PlatLocale* locale = inManager != nullptr ? inManager->GetImpl().RetainCFLocaleRef()
                                                    : XMacIntlMgr::CreateCFLocaleRef(inDialectCode);
    if (locale == nullptr)
        return nullptr;
    auto* collator = new (std::nothrow) VCollator_system(inDialectCode, locale);
    locale->Release();
    return collator;
}

CompareResult VCollator_system::CompareString(const UniChar* inText1, int inSize1, const UniChar* inText2,
                                              int inSize2, bool inWithDiacritics)
{
    if (inSize1 > 0 && inSize2 > 0 && inText1 != nullptr && inText2 != nullptr)
        return fCompare.CompareString(inText1, inSize1, inText2, inSize2, inWithDiacritics);
    // The empty cases: a null text, or a size of 0 or less, is empty.
    bool empty1 = inText1 == nullptr || inSize1 <= 0;
    bool empty2 = inText2 == nullptr || inSize2 <= 0;
    if (empty1)
        return empty2 ? CR_EQUAL : CR_SMALLER;
    return CR_BIGGER;
}

bool VCollator_system::EqualString(const UniChar* inText1, int inSize1, const UniChar* inText2, int inSize2,
                                   bool inWithDiacritics)
{
    return CompareString(inText1, inSize1, inText2, inSize2, inWithDiacritics) == CR_EQUAL;
}

int VCollator_system::FindString(const UniChar* inText, int inSize, const UniChar* inPattern, int inPatternSize,
                                 bool inWithDiacritics, int* outLength)
{
    if (inText == nullptr || inSize < 0)
        inSize = 0;
    if (inPattern == nullptr || inPatternSize < 0)
        inPatternSize = 0;
    if (inSize == 0 || inPatternSize == 0) {
        if (outLength != nullptr)
            *outLength = 0;
        return (inPatternSize == 0 && inSize > 0) ? 1 : 0;
    }
    return fCompare.FindString(inText, inSize, inPattern, inPatternSize, inWithDiacritics, outLength);
}

int VCollator_system::ReversedFindString(const UniChar* inText, int inSize, const UniChar* inPattern,
                                         int inPatternSize, bool inWithDiacritics, int* outLength)
{
    if (inText == nullptr || inSize < 0)
        inSize = 0;
    if (inPattern == nullptr || inPatternSize < 0)
        inPatternSize = 0;
    if (inSize == 0 || inPatternSize == 0) {
        if (outLength != nullptr)
            *outLength = 0;
        return (inPatternSize == 0 && inSize > 0) ? 1 : 0;
    }
    int length = 0;
    int last = FindLastOccurrence(*this, inText, inSize, inPattern, inPatternSize, inWithDiacritics, &length);
    if (outLength != nullptr)
        *outLength = last >= 0 ? length : 0;
    return last >= 0 ? last + 1 : 0;
}

VCollator* VCollator_system::Clone() const
{
    return new (std::nothrow) VCollator_system(*this);
}

void VCollator_system::GetStringComparisonAlgorithmSignature(VString& outSignature) const
{
    VString version;
    VSystem::GetOSVersionString(version);
    outSignature.FromCString("system:");
    outSignature.AppendString(version);
}

}  // namespace qelt
