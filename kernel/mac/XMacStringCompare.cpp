#include "kernel/mac/XMacStringCompare.h"

#include "platform/PlatLocale.h"

namespace qelt {

XMacStringCompare::XMacStringCompare(plat::PlatLocale* inLocale) : fLocale(inLocale)
{
    if (fLocale != nullptr)
        fLocale->Retain();
}

XMacStringCompare::XMacStringCompare(const XMacStringCompare& inOther)
    : fLocale(inOther.fLocale != nullptr ? inOther.fLocale->Copy() : nullptr)
{
}

XMacStringCompare::~XMacStringCompare()
{
    for (auto& collator : fCollators)
        delete collator.load(std::memory_order_acquire);
    if (fLocale != nullptr)
        fLocale->Release();
}

plat::PlatCollator* XMacStringCompare::_MakeCollator(bool inWithDiacritics) const
{
    std::atomic<plat::PlatCollator*>& slot = fCollators[inWithDiacritics ? 1 : 0];
    plat::PlatCollator* collator = slot.load(std::memory_order_acquire);
    if (collator != nullptr || fLocale == nullptr)
        return collator;
    // Made once: a thread that loses the race drops its own.
    plat::PlatCollator* made = plat::PlatCollator::Create(fLocale, inWithDiacritics);
    if (made == nullptr)
        return nullptr;
    plat::PlatCollator* expected = nullptr;
    if (slot.compare_exchange_strong(expected, made, std::memory_order_acq_rel))
        return made;
    delete made;
    return expected;
}

int XMacStringCompare::FindString(const UniChar* inText, int inSize, const UniChar* inPattern, int inPatternSize,
                                  bool inWithDiacritics, int* outLength) const
{
    if (outLength != nullptr)
        *outLength = 0;
    plat::PlatCollator* collator = _GetCollator(inWithDiacritics);
    if (collator == nullptr)
        return 0;
    int start = 0;
    int length = 0;
    if (!collator->Find(reinterpret_cast<const char16_t*>(inText), inSize,
                        reinterpret_cast<const char16_t*>(inPattern), inPatternSize, start, length))
        return 0;
    if (outLength != nullptr)
        *outLength = length;
    return start + 1;
}

}  // namespace qelt
