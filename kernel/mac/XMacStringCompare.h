// The platform collation of a collator: order and search of UTF-16 texts
// in the collation rules of a locale, with or without regard to diacritical
// marks (and, without them, to letter case); width variants never count.
#pragma once

#include <atomic>

#include "kernel/VKernelTypes.h"
#include "platform/PlatLocale.h"

namespace qelt {

class XMacStringCompare {
public:
    // Holds the locale with one more reference (null is allowed: every
    // comparison then answers 0 and every search nothing).
    explicit XMacStringCompare(plat::PlatLocale* inLocale);
    // A copy holds a copy of the locale.
    XMacStringCompare(const XMacStringCompare& inOther);
    XMacStringCompare& operator=(const XMacStringCompare&) = delete;
    virtual ~XMacStringCompare();

    plat::PlatLocale* GetLocale() const { return fLocale; }

    // -1, 0 or 1 (0 when no collator can be had). The sizes are not
    // negative and a null text has size 0: the collator makes sure of it.
    CompareResult CompareString(const UniChar* inText1, int inSize1, const UniChar* inText2, int inSize2,
                                bool inWithDiacritics) const
    {
        plat::PlatCollator* collator = _GetCollator(inWithDiacritics);
        if (collator == nullptr)
            return CR_EQUAL;
        int result = collator->Compare(reinterpret_cast<const char16_t*>(inText1), inSize1,
                                       reinterpret_cast<const char16_t*>(inText2), inSize2);
        return result < 0 ? CR_SMALLER : (result > 0 ? CR_BIGGER : CR_EQUAL);
    }
    // 1-based position of the first occurrence, 0 when none; outLength gets
    // the length of the text matched (0 when none).
    int FindString(const UniChar* inText, int inSize, const UniChar* inPattern, int inPatternSize,
                   bool inWithDiacritics, int* outLength) const;

private:
    // The collator for the sensitivity, made once on first use.
    plat::PlatCollator* _GetCollator(bool inWithDiacritics) const
    {
        plat::PlatCollator* collator = fCollators[inWithDiacritics ? 1 : 0].load(std::memory_order_acquire);
        return collator != nullptr ? collator : _MakeCollator(inWithDiacritics);
    }
    plat::PlatCollator* _MakeCollator(bool inWithDiacritics) const;

    plat::PlatLocale* fLocale;
    mutable std::atomic<plat::PlatCollator*> fCollators[2] = {nullptr, nullptr};
};

}  // namespace qelt
