// The interface through which the toolbox asks an application's localisation
// for texts: error messages, keyed strings and grouped bags.
#pragma once

#include "kernel/VKernelTypes.h"

namespace qelt {

class VString;
class VValueBag;

// A pure interface: whoever registers a localiser keeps it alive; the toolbox
// never deletes one through this interface.
class ILocalizer {
public:
    // The dialect code the localiser translates into.
    virtual unsigned int GetLocalizationLanguage() = 0;

    // Puts the localised message of the error code into outText and answers
    // true, or answers false when there is none.
    virtual bool LocalizeErrorMessage(VError inErrorCode, VString& outText) = 0;

    // Puts the text of the key into outText and answers true, or answers false
    // and leaves outText as it was.
    virtual bool LocalizeStringWithKey(const VString& inKey, VString& outText) = 0;

    // The same on the ".strings" table.
    virtual bool LocalizeStringWithDotStringsKey(const VString& inKey, VString& outText) = 0;

    // The group bag of that name, retained for the caller, or null.
    virtual const VValueBag* RetainGroupBag(const VString& inName) = 0;

protected:
    ~ILocalizer() = default;
};

}  // namespace qelt
