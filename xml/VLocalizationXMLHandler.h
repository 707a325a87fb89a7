// The handlers that read an XLIFF document into a localisation manager: the
// root handler (the language check of each "file"), the group handler, the
// unit handler and the alternative-translation handler, which file each
// unit's text into the manager's tables.
#pragma once

#include <vector>

#include "kernel/IRefCountable.h"
#include "kernel/VObject.h"
#include "kernel/VString.h"
#include "xml/IXMLHandler.h"

namespace qelt {

class VLocalizationManager;
class VValueBag;

// The names of the open groups, outermost first.
using VLocalizationNameStack = std::vector<VString>;

class VLocalizationXMLHandler : public VObject, public IXMLHandler {
public:
    explicit VLocalizationXMLHandler(VLocalizationManager* inManager);

    IXMLHandler* StartElement(const VString& inElementName) override;
    void SetAttribute(const VString& inName, const VString& inValue) override;
    void SetText(const VString& inText) override;

    // Files directly in a bundle's resources folder load whatever their
    // language says.
    void SetAvoidLanguageChecking(bool inAvoid) { fAvoidLanguageChecking = inAvoid; }

private:
    VLocalizationManager* fManager;
    bool fLoad = false;
    bool fReplace = true;
    VString fCurrentElement;
    bool fAvoidLanguageChecking = false;
};

class VLocalizationGroupHandler : public VObject, public IXMLHandler {
public:
    VLocalizationGroupHandler(bool inReplace, VLocalizationManager* inManager);
    ~VLocalizationGroupHandler() override;

    IXMLHandler* StartElement(const VString& inElementName) override;
    void EndElement(const VString& inElementName) override;
    void SetAttribute(const VString& inName, const VString& inValue) override;
    void SetText(const VString& inText) override;

private:
    VLocalizationManager* fManager;
    bool fReplace;
    unsigned int fGroupID = 0;
    VLocalizationNameStack fNames;
    VValueBag* fGroupBag = nullptr;
    VString fRestype;
};

class VLocalizationTransUnitHandler : public VObject, public IXMLHandler {
public:
    VLocalizationTransUnitHandler(bool inReplace, VLocalizationManager* inManager);
    VLocalizationTransUnitHandler(unsigned int inGroupID, const VLocalizationNameStack& inNames,
                                  VValueBag* inGroupBag, bool inReplace, VLocalizationManager* inManager);
    ~VLocalizationTransUnitHandler() override;

    IXMLHandler* StartElement(const VString& inElementName) override;
    void EndElement(const VString& inElementName) override;
    void SetAttribute(const VString& inName, const VString& inValue) override;
    void SetText(const VString& inText) override;

    // Reads a "qv:includeIf" (inIsInclude) or "qv:excludeIf" platform list
    // and sets *ioIgnore when it leaves this system out.
    static void CheckPlatformTag(const VString& inValue, bool inIsInclude, bool* ioIgnore);

private:
    VLocalizationManager* fManager;
    VString fCurrentChild;
    unsigned int fGroupID = 0;
    VValueBag* fGroupBag = nullptr;
    VValueBag* fUnitBag = nullptr;
    unsigned int fUnitID = 0;
    VString fResname;
    VString fSource{true};
    VString fTarget{true};
    bool fFiled = false;
    bool fReplace;
    bool fIgnore = false;
    VLocalizationNameStack fNames;
};

class VLocalizationAltTransHandler : public VObject, public IXMLHandler {
public:
    VLocalizationAltTransHandler(bool inReplace, VLocalizationManager* inManager);
    VLocalizationAltTransHandler(unsigned int inGroupID, const VLocalizationNameStack& inNames, VValueBag* inUnitBag,
                                 bool inReplace, VLocalizationManager* inManager);
    ~VLocalizationAltTransHandler() override;

    IXMLHandler* StartElement(const VString& inElementName) override;
    void EndElement(const VString& inElementName) override;
    void SetAttribute(const VString& inName, const VString& inValue) override;
    void SetText(const VString& inText) override;

    static void CheckPlatformTag(const VString& inValue, bool inIsInclude, bool* ioIgnore)
    {
        VLocalizationTransUnitHandler::CheckPlatformTag(inValue, inIsInclude, ioIgnore);
    }

private:
    VString fCurrentChild;
    VValueBag* fUnitBag = nullptr;
    VValueBag* fBag = nullptr;
    unsigned int fID = 0;
    VString fResname;
    VString fSource{true};
    VString fTarget{true};
    bool fIgnore = false;
    VLocalizationNameStack fNames;
};

}  // namespace qelt
