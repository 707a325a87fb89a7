// The options of a comparison between values: the international manager
// that collates text, wildcard matching, accent sensitivity, comparison of
// the beginning only, and the tolerance under which two reals are equal.
#pragma once

#include "kernel/VKernelTypes.h"
#include "kernel/VObject.h"

namespace qelt {

class VIntlMgr;
class VJSONObject;

class VCompareOptions : public VObject {
public:
    static constexpr double kDefaultEpsilon = 1e-6;

    // All flags cleared, a tolerance of 1e-6 and the calling task's
    // international manager.
    VCompareOptions();
    ~VCompareOptions() override;

    // The collator's manager; not retained: it must outlive the comparisons.
    VIntlMgr* GetIntlMgr() const { return fIntlMgr; }
    void SetIntlMgr(VIntlMgr* intlMgr) { fIntlMgr = intlMgr; }

    // Text comparisons use wildcard (LIKE) matching.
    bool IsLike() const { return fLike != 0; }
    void SetLike(bool like) { fLike = like ? 1 : 0; }

    // Accents count in text comparisons; reals compare exactly.
    bool IsDiacritical() const { return fDiacritical != 0; }
    void SetDiacritical(bool diacritical) { fDiacritical = diacritical ? 1 : 0; }

    // A text comparison looks only at as many characters as the shorter text has.
    bool IsBeginsWith() const { return fBeginning != 0; }
    void SetBeginsWith(bool beginning) { fBeginning = beginning ? 1 : 0; }

    // Two reals closer than this are equal.
    double GetEpsilon() const { return fEpsilon; }
    void SetEpsilon(double epsilon) { fEpsilon = epsilon; }

    // Stores the diacritical flag as the boolean property "diacritical" (the
    // other fields are not stored). Always 0; a null object is left alone.
    VError ToJSON(VJSONObject* ioObject) const;
    // Takes the diacritical flag from the property "diacritical" when it is a
    // boolean; any other type, a missing property or a null object leave the
    // flag unchanged. Always 0.
    VError FromJSON(const VJSONObject* inObject);

private:
    VIntlMgr* fIntlMgr;
    unsigned char fLike = 0;
    unsigned char fDiacritical = 0;
    unsigned char fBeginning = 0;
    double fEpsilon = kDefaultEpsilon;
};

}  // namespace qelt
