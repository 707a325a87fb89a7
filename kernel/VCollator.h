// Collators: order, equality and search of texts people read, in the rules
// of a collation dialect, with or without regard to diacritical marks, and
// LIKE matching in which one wildcard unit ("@" by default) stands for any
// run of characters.
#pragma once

#include "kernel/IRefCountable.h"
#include "kernel/VKernelTypes.h"
#include "kernel/VObject.h"
#include "kernel/mac/XMacStringCompare.h"

namespace qelt {

class VIntlMgr;
class VString;

class VCollator : public VObject, public IRefCountable {
public:
    static constexpr UniChar sDefaultWildChar = 0x0040;  // "@"

    // Options bit: the wildcard counts only at the ends of a pattern.
    static constexpr unsigned char kOptionWildCharOnlyAtEnds = 0x02;

    ~VCollator() override;

    virtual CompareResult CompareString(const UniChar* inText1, int inSize1, const UniChar* inText2, int inSize2,
                                        bool inWithDiacritics) = 0;
    virtual bool EqualString(const UniChar* inText1, int inSize1, const UniChar* inText2, int inSize2,
                             bool inWithDiacritics) = 0;
    // 1-based position of the first occurrence of inPattern in inText, 0
    // when none; outLength (when given) receives the length of the text
    // matched, which can differ from the pattern's.
    virtual int FindString(const UniChar* inText, int inSize, const UniChar* inPattern, int inPatternSize,
                           bool inWithDiacritics, int* outLength) = 0;
    // The same for the last occurrence.
    virtual int ReversedFindString(const UniChar* inText, int inSize, const UniChar* inPattern, int inPatternSize,
                                   bool inWithDiacritics, int* outLength) = 0;
    virtual bool BeginsWithString(const UniChar* inText, int inSize, const UniChar* inPattern, int inPatternSize,
                                  bool inWithDiacritics, int* outLength);
    virtual bool EndsWithString(const UniChar* inText, int inSize, const UniChar* inPattern, int inPatternSize,
                                bool inWithDiacritics, int* outLength);
    virtual VCollator* Clone() const = 0;
    virtual void SetWildChar(UniChar inWildChar);
    virtual void GetStringComparisonAlgorithmSignature(VString& outSignature) const = 0;
    // Brings the wildcard back to its default.
    virtual void Reset();
    virtual CompareResult _CompareString_Like_IgnoreWildCharInMiddle(const UniChar* inText, int inSize,
                                                                     const UniChar* inPattern, int inPatternSize,
                                                                     bool inWithDiacritics);
    virtual CompareResult _CompareString_Like_SupportWildCharInMiddle(const UniChar* inText, int inSize,
                                                                      const UniChar* inPattern, int inPatternSize,
                                                                      bool inWithDiacritics);

    CompareResult CompareString_Like(const UniChar* inText, int inSize, const UniChar* inPattern, int inPatternSize,
                                     bool inWithDiacritics);
    bool EqualString_Like(const UniChar* inText, int inSize, const UniChar* inPattern, int inPatternSize,
                          bool inWithDiacritics);

    // True when a pattern can be looked up as a prefix in a sorted index:
    // no wildcard, or only one at its very end and no Japanese kana.
    static bool IsPatternCompatibleWithDichotomyAndDiacritics(const UniChar* inPattern, int inSize);

    unsigned int GetDialectCode() const { return fDialectCode; }
    UniChar GetWildChar() const { return fWildChar; }
    unsigned char GetOptions() const { return fOptions; }

protected:
    VCollator(unsigned int inDialectCode, unsigned char inOptions);
    VCollator(const VCollator& inOther);
    VCollator& operator=(const VCollator&) = delete;

    unsigned int fDialectCode;
    UniChar fWildChar;
    unsigned char fOptions;
};

// The collator of this system: the collation itself is the platform's, in
// the locale of the collator's dialect.
class VCollator_system : public VCollator {
public:
    // A collator (count 1) for the dialect; it uses the manager's locale when
    // a manager is given, else one of its own. Null when no locale can be had.
    static VCollator_system* Create(unsigned int inDialectCode, VIntlMgr* inManager);

    VCollator_system(const VCollator_system& inOther);
    ~VCollator_system() override;

    CompareResult CompareString(const UniChar* inText1, int inSize1, const UniChar* inText2, int inSize2,
                                bool inWithDiacritics) override;
    bool EqualString(const UniChar* inText1, int inSize1, const UniChar* inText2, int inSize2,
                     bool inWithDiacritics) override;
    int FindString(const UniChar* inText, int inSize, const UniChar* inPattern, int inPatternSize,
                   bool inWithDiacritics, int* outLength) override;
    int ReversedFindString(const UniChar* inText, int inSize, const UniChar* inPattern, int inPatternSize,
                           bool inWithDiacritics, int* outLength) override;
    VCollator* Clone() const override;
    void GetStringComparisonAlgorithmSignature(VString& outSignature) const override;

private:
    VCollator_system(unsigned int inDialectCode, plat::PlatLocale* inLocale);

    XMacStringCompare fCompare;
};

}  // namespace qelt
