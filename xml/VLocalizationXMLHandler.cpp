#include "xml/VLocalizationXMLHandler.h"

#include "kernel/VIntlMgr.h"
#include "values/VValueBag.h"
#include "xml/VLocalizationManager.h"

namespace qelt {

namespace {

bool Is(const VString& inName, const char* inASCII)
{
    return inName.EqualToUSASCIICString(inASCII);
}

const StPackedDictionaryKey& TargetKey()
{
    static const StPackedDictionaryKey sKey("target");
    return sKey;
}

// The separator of the parts of a composed key.
const char kKeySeparator[] = "#}[{@";

// The unit's text: the target when there is one, else the source, else empty.
VString ChooseText(const VString& inSource, const VString& inTarget)
{
    if (!inTarget.IsNull())
        return inTarget;
    if (!inSource.IsNull())
        return inSource;
    return VString();
}

void AppendText(VString& ioText, const VString& inText)
{
    if (ioText.IsNull())
        ioText = inText;
    else
        ioText.AppendString(inText);
}

// The text of a "source" or "target" child goes to its own text.
void AppendChildText(const VString& inChild, VString& ioSource, VString& ioTarget, const VString& inText)
{
    if (Is(inChild, "source"))
        AppendText(ioSource, inText);
    else if (Is(inChild, "target"))
        AppendText(ioTarget, inText);
}

// The attributes of a unit or an alternative: every one goes into the bag
// when there is one; the id, the resname and the platform lists are read.
void ReadUnitAttribute(VValueBag* ioBag, const VString& inName, const VString& inValue, unsigned int& ioID,
                       VString& ioResname, bool& ioIgnore)
{
    if (ioBag != nullptr)
        ioBag->SetAttribute(StPackedDictionaryKey(inName), inValue);
    if (Is(inName, "id")) {
        const int id = inValue.GetLong();
        if (id > 0)
            ioID = static_cast<unsigned int>(id);
    } else if (Is(inName, "resname")) {
        ioResname = inValue;
    } else if (Is(inName, "qv:excludeIf") || Is(inName, "qv:includeIf")) {
        VLocalizationTransUnitHandler::CheckPlatformTag(inValue, Is(inName, "qv:includeIf"), &ioIgnore);
    }
}

}  // namespace

// ---- Root handler --------------------------------------------------------

VLocalizationXMLHandler::VLocalizationXMLHandler(VLocalizationManager* inManager) : fManager(inManager)
{
}

IXMLHandler* VLocalizationXMLHandler::StartElement(const VString& inElementName)
{
    if (Is(inElementName, "file"))
        fCurrentElement = inElementName;
    else
        fCurrentElement.Clear();
    const bool load = fLoad || fAvoidLanguageChecking;
    if (load && Is(inElementName, "group"))
        return new VLocalizationGroupHandler(fReplace, fManager);
    if (load && Is(inElementName, "trans-unit"))
        return new VLocalizationTransUnitHandler(fReplace, fManager);
    Retain();
    return this;
}

void VLocalizationXMLHandler::SetAttribute(const VString& inName, const VString& inValue)
{
    if (!Is(fCurrentElement, "file") || !Is(inName, "target-language"))
        return;
    VString code;
    if (!VIntlMgr::GetRFC3066BisLanguageCodeWithDialectCode(fManager->GetLocalizationLanguage(), code, '-'))
        return;
    VString value(inValue);
    code.ToLowerCase();
    value.ToLowerCase();
    switch (VIntlMgr::Compare2RFC3066LanguageCodes(code, value)) {
        case 4:
            fLoad = true;
            fReplace = true;
            break;
        case 3:
        case 2:
        case 1:
            fLoad = true;
            fReplace = false;
            break;
        default:
            fLoad = false;
            break;
    }
}

void VLocalizationXMLHandler::SetText(const VString&)
{
}

// ---- Group handler -------------------------------------------------------

VLocalizationGroupHandler::VLocalizationGroupHandler(bool inReplace, VLocalizationManager* inManager)
    : fManager(inManager), fReplace(inReplace)
{
    fNames.emplace_back();
}

VLocalizationGroupHandler::~VLocalizationGroupHandler()
{
    ReleaseRefCountable(fGroupBag);
}

IXMLHandler* VLocalizationGroupHandler::StartElement(const VString& inElementName)
{
    if (Is(inElementName, "trans-unit"))
        return new VLocalizationTransUnitHandler(fGroupID, fNames, fRestype.IsEmpty() ? nullptr : fGroupBag, fReplace,
                                                 fManager);
    if (Is(inElementName, "group")) {
        fNames.emplace_back();
        Retain();
        return this;
    }
    return nullptr;
}

void VLocalizationGroupHandler::EndElement(const VString&)
{
    const VString name = fNames.empty() ? VString() : fNames.back();
    if (fGroupBag != nullptr) {
        if (!fRestype.IsEmpty()) {
            if (!name.IsEmpty())
                fGroupBag->SetAttribute(StPackedDictionaryKey("resname"), name);
            fManager->_InsertGroupBag(name, fRestype, fGroupBag);
        }
        ReleaseRefCountable(fGroupBag);
        fGroupBag = nullptr;
    }
    fRestype.Clear();
    if (!fNames.empty())
        fNames.pop_back();
}

void VLocalizationGroupHandler::SetAttribute(const VString& inName, const VString& inValue)
{
    if (fGroupBag == nullptr)
        fGroupBag = new VValueBag;
    if (Is(inName, "id")) {
        const int id = inValue.GetLong();
        if (id != 0)
            fGroupID = static_cast<unsigned int>(id);
    } else if (Is(inName, "resname")) {
        if (!inValue.IsEmpty() && !fNames.empty())
            fNames.back() = inValue;
    } else if (Is(inName, "restype")) {
        fRestype = inValue;
    }
    fGroupBag->SetAttribute(StPackedDictionaryKey(inName), inValue);
}

void VLocalizationGroupHandler::SetText(const VString&)
{
}

// ---- Unit handler --------------------------------------------------------

VLocalizationTransUnitHandler::VLocalizationTransUnitHandler(bool inReplace, VLocalizationManager* inManager)
    : fManager(inManager), fReplace(inReplace)
{
}

VLocalizationTransUnitHandler::VLocalizationTransUnitHandler(unsigned int inGroupID,
                                                             const VLocalizationNameStack& inNames,
                                                             VValueBag* inGroupBag, bool inReplace,
                                                             VLocalizationManager* inManager)
    : fManager(inManager),
      fGroupID(inGroupID),
      fGroupBag(RetainRefCountable(inGroupBag)),
      fReplace(inReplace),
      fNames(inNames)
{
    if (fGroupBag != nullptr)
        fUnitBag = new VValueBag;
}

VLocalizationTransUnitHandler::~VLocalizationTransUnitHandler()
{
    ReleaseRefCountable(fUnitBag);
    ReleaseRefCountable(fGroupBag);
}

// Only "source", "target" and "alt-trans" change the current child: markup
// nested inside a source or target is skipped, and the text after it still
// belongs to the source or target around it.
IXMLHandler* VLocalizationTransUnitHandler::StartElement(const VString& inElementName)
{
    if (Is(inElementName, "source") || Is(inElementName, "target")) {
        fCurrentChild = inElementName;
        Retain();
        return this;
    }
    if (Is(inElementName, "alt-trans")) {
        fCurrentChild = inElementName;
        return new VLocalizationAltTransHandler(fGroupID, fNames, fUnitBag, fReplace, fManager);
    }
    return nullptr;
}

void VLocalizationTransUnitHandler::SetText(const VString& inText)
{
    AppendChildText(fCurrentChild, fSource, fTarget, inText);
}

void VLocalizationTransUnitHandler::SetAttribute(const VString& inName, const VString& inValue)
{
    ReadUnitAttribute(fUnitBag, inName, inValue, fUnitID, fResname, fIgnore);
}

void VLocalizationTransUnitHandler::CheckPlatformTag(const VString& inValue, bool inIsInclude, bool* ioIgnore)
{
    std::vector<VString> parts;
    inValue.GetSubStrings(UniChar(' '), parts, false, true);
    bool mac = false, any = false;
    for (const VString& part : parts) {
        if (part.EqualToString(VString("mac"), false)) {
            mac = true;
            any = true;
        } else if (part.EqualToString(VString("win"), false) || part.EqualToString(VString("linux"), false)) {
            any = true;
        }
    }
    if (!any || ioIgnore == nullptr)
        return;
    if ((inIsInclude && !mac) || (!inIsInclude && mac))
        *ioIgnore = true;
}

void VLocalizationTransUnitHandler::EndElement(const VString& inElementName)
{
    if (Is(inElementName, "source") || Is(inElementName, "target")) {
        fCurrentChild.Clear();
        return;
    }
    fCurrentChild.Clear();
    if (fIgnore)
        return;
    const VString text = ChooseText(fSource, fTarget);
    if (fUnitBag != nullptr && fGroupBag != nullptr) {
        fUnitBag->SetAttribute(TargetKey(), text);
        fGroupBag->AddElement(StPackedDictionaryKey("trans-unit"), fUnitBag);
    }
    if (fFiled)
        return;
    if (fUnitID != 0 && fGroupID != 0) {
        fManager->_InsertSTRSharpCodeAndString(STRSharpCodes(static_cast<int>(fGroupID), fUnitID), text, fReplace);
        fFiled = true;
    }
    if (text.IsEmpty())
        return;
    if (fNames.size() >= 2 && !fResname.IsEmpty()) {
        const VString& inner = fNames[fNames.size() - 1];
        const VString& outer = fNames[fNames.size() - 2];
        if (!inner.IsEmpty() && !outer.IsEmpty() && outer.GetUniChar(1) == '[' &&
            outer.GetUniChar(outer.GetLength()) == ']') {
            VString key(outer);
            key.AppendCString(kKeySeparator);
            key.AppendString(inner);
            key.AppendCString(kKeySeparator);
            key.AppendString(fResname);
            fManager->_InsertObjectURLAndString(key, text, fReplace);
            fFiled = true;
            return;
        }
    }
    if (!fResname.IsEmpty()) {
        fManager->_InsertObjectURLAndString(fResname, text, fReplace);
        fFiled = true;
    }
    for (auto name = fNames.rbegin(); name != fNames.rend(); ++name) {
        fManager->_InsertIDAndStringInAGroup(fUnitID, text, *name, fReplace);
        fFiled = true;
    }
}

// ---- Alternative-translation handler -------------------------------------

VLocalizationAltTransHandler::VLocalizationAltTransHandler(bool, VLocalizationManager*)
{
}

VLocalizationAltTransHandler::VLocalizationAltTransHandler(unsigned int, const VLocalizationNameStack& inNames,
                                                           VValueBag* inUnitBag, bool, VLocalizationManager*)
    : fUnitBag(RetainRefCountable(inUnitBag)), fNames(inNames)
{
    if (fUnitBag != nullptr)
        fBag = new VValueBag;
}

VLocalizationAltTransHandler::~VLocalizationAltTransHandler()
{
    ReleaseRefCountable(fBag);
    ReleaseRefCountable(fUnitBag);
}

IXMLHandler* VLocalizationAltTransHandler::StartElement(const VString& inElementName)
{
    if (Is(inElementName, "source") || Is(inElementName, "target")) {
        fCurrentChild = inElementName;
        Retain();
        return this;
    }
    return nullptr;
}

void VLocalizationAltTransHandler::SetText(const VString& inText)
{
    AppendChildText(fCurrentChild, fSource, fTarget, inText);
}

void VLocalizationAltTransHandler::SetAttribute(const VString& inName, const VString& inValue)
{
    ReadUnitAttribute(fBag, inName, inValue, fID, fResname, fIgnore);
}

void VLocalizationAltTransHandler::EndElement(const VString& inElementName)
{
    if (Is(inElementName, "source") || Is(inElementName, "target")) {
        fCurrentChild.Clear();
        return;
    }
    fCurrentChild.Clear();
    if (fIgnore || fBag == nullptr || fUnitBag == nullptr)
        return;
    fBag->SetAttribute(TargetKey(), ChooseText(fSource, fTarget));
    fUnitBag->AddElement(StPackedDictionaryKey("alt-trans"), fBag);
}

}  // namespace qelt
