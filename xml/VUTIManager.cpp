#include "xml/VUTIManager.h"

#include <mutex>

#include "files/VFile.h"
#include "files/VFileKindManager.h"
#include "runtime/VErrorContext.h"
#include "xml/VLocalizationManager.h"
#include "xml/VUTIManagerXMLHandler.h"
#include "xml/VXMLParser.h"

namespace qelt {

const char kUTTagClassFilenameExtension[] = "public.filename-extension";
const char kUTTagClassMIMEType[] = "public.mime-type";
const char kUTTagClassOSType[] = "com.apple.ostype";

VUTIManager* VUTIManager::fSingleton = nullptr;

namespace {

enum class TagClass { kNone, kExtension, kOSType, kMIMEType };

TagClass ClassOf(const VString& inTagClass)
{
    if (inTagClass.EqualToString(VString(kUTTagClassFilenameExtension), false))
        return TagClass::kExtension;
    if (inTagClass.EqualToString(VString(kUTTagClassOSType), false))
        return TagClass::kOSType;
    if (inTagClass.EqualToString(VString(kUTTagClassMIMEType), false))
        return TagClass::kMIMEType;
    return TagClass::kNone;
}

VUTI* HighestFor(const VUTI* inUTI, TagClass inClass, const VString& inTag)
{
    switch (inClass) {
        case TagClass::kExtension:
            return inUTI->GetHighestParentThatConformsToExtension(inTag);
        case TagClass::kOSType:
            return inUTI->GetHighestParentThatConformsToOSType(inTag);
        case TagClass::kMIMEType:
            return inUTI->GetHighestParentThatConformsToMIMEType(inTag);
        default:
            return nullptr;
    }
}

// Guards the making and the dropping of the singleton, so that two first
// calls make one manager and a call after DeInit makes a new one.
std::mutex& SingletonMutex()
{
    static std::mutex sMutex;
    return sMutex;
}

}  // namespace

VUTIManager* VUTIManager::GetUTIManager()
{
    std::lock_guard<std::mutex> lock(SingletonMutex());
    if (fSingleton == nullptr)
        fSingleton = new VUTIManager;
    return fSingleton;
}

bool VUTIManager::DeInit()
{
    VUTIManager* manager = nullptr;
    {
        std::lock_guard<std::mutex> lock(SingletonMutex());
        manager = fSingleton;
        fSingleton = nullptr;
    }
    ReleaseRefCountable(manager);
    return true;
}

VUTIManager::VUTIManager()
{
    fParser = new VXMLParser;
    VXMLParser::Init();
    fHandler = new VUTIManagerXMLHandler(this);
}

VUTIManager::~VUTIManager()
{
    ReleaseRefCountable(fHandler);
    VXMLParser::DeInit();
    delete fParser;
    VUTIMap types;
    types.swap(fUTIs);
    for (auto& entry : types) {
        entry.second->_Detach();
        entry.second->Release();
    }
}

bool VUTIManager::_Parse(VFile* inFile, const VString* inText)
{
    if (inText != nullptr)
        fParser->Parse(*inText, fHandler, kXMLValidateNever);
    else
        fParser->Parse(inFile, fHandler, kXMLValidateNever);
    return true;
}

bool VUTIManager::LoadXMLFile(VFile* inFile)
{
    if (inFile == nullptr || !inFile->Exists())
        return false;
    _Parse(inFile, nullptr);
    ProcessExtractedUTIs();
    return true;
}

VError VUTIManager::AnalyzeXMLFile(const VFile* inFile)
{
    if (inFile != nullptr && inFile->Exists())
        _Parse(const_cast<VFile*>(inFile), nullptr);
    return 0;
}

bool VUTIManager::_LoadXMLText(const VString& inText)
{
    _Parse(nullptr, &inText);
    ProcessExtractedUTIs();
    return true;
}

VError VUTIManager::ProcessExtractedUTIs()
{
    // Each placeholder parent of a type B names a type A: when A is
    // registered, it takes the placeholder's place.
    for (auto& [idB, b] : fUTIs) {
        for (const auto& [parentID, parent] : b->GetParentUTIsMap()) {
            if (parent == nullptr || !parent->IsTemporary())
                continue;
            auto found = fUTIs.find(parent->GetIdentifier());
            if (found == fUTIs.end() || found->second == b)
                continue;
            VUTI* a = found->second;
            // Linking A as B's parent must not make a cycle: B may not
            // already be one of A's ancestors (mutual conformance links one
            // way only).
            if (a->IsChildOrChildOfAParent(b) || a->IsParent(parent) || a->IsParent(b))
                continue;
            b->RemoveTemporaryUTI(a->GetIdentifier());
            a->AddChildUTI(b);
            b->AddParentUTI(a);
        }
    }

    VFileKindManager* kinds = VFileKindManager::Get();
    if (kinds == nullptr)
        return 0;
    for (const auto& [id, type] : fUTIs) {
        VString description;
        if (fLocalizationManager == nullptr ||
            !fLocalizationManager->LocalizeStringWithDotStringsKey(type->GetDescription(), description))
            description = type->GetDescription();
        std::vector<VString> parents;
        for (const auto& [parentID, parent] : type->GetParentUTIsMap())
            parents.push_back(parentID);
        kinds->RegisterPrivateFileKind(type->GetIdentifier(), type->GetOSTypesVector(), description,
                                       type->GetExtensionsVector(), parents);
    }
    return 0;
}

bool VUTIManager::AddNewUTI(VUTI* inUTI)
{
    if (inUTI == nullptr || inUTI->GetIdentifier().IsEmpty())
        return false;
    if (!fUTIs.emplace(inUTI->GetIdentifier(), inUTI).second)
        return false;
    inUTI->Retain();
    return true;
}

std::vector<VUTI*>* VUTIManager::UTTypeCreateAllIdentifiersForTag(const VString& inTagClass, const VString& inTag,
                                                                  const VString&)
{
    if (inTagClass.IsEmpty() || inTag.IsEmpty())
        return nullptr;
    auto* found = new std::vector<VUTI*>;
    const TagClass tagClass = ClassOf(inTagClass);
    for (const auto& [id, type] : fUTIs) {
        bool conforms = false;
        switch (tagClass) {
            case TagClass::kExtension:
                conforms = type->ConformsToExtension(inTag);
                break;
            case TagClass::kOSType:
                conforms = type->ConformsToOSType(inTag);
                break;
            case TagClass::kMIMEType:
                conforms = type->ConformsToMIMEType(inTag);
                break;
            default:
                break;
        }
        if (conforms)
            found->push_back(RetainRefCountable(type));
    }
    return found;
}

VUTI* VUTIManager::UTTypeCreatePreferredIdentifierForTag(const VString& inTagClass, const VString& inTag,
                                                         const VString& inConformingTo)
{
    if (inTagClass.IsEmpty() || inTag.IsEmpty() || fUTIs.empty())
        return nullptr;
    const TagClass tagClass = ClassOf(inTagClass);
    std::vector<VRefPtr<VUTI>> candidates;
    for (const auto& [id, type] : fUTIs) {
        VRefPtr<VUTI> found = AdoptRef(HighestFor(type, tagClass, inTag));
        if (!found)
            continue;
        if (!inConformingTo.IsEmpty() && !found->ConformsToIdentifier(inConformingTo))
            continue;
        bool present = false;
        for (const auto& candidate : candidates)
            present = present || candidate.Get() == found.Get();
        if (!present)
            candidates.push_back(found);
    }
    if (candidates.empty())
        return nullptr;
    bool anyPublic = false, anyPrivate = false;
    for (const auto& candidate : candidates) {
        anyPublic = anyPublic || candidate->IsPublic();
        anyPrivate = anyPrivate || !candidate->IsPublic();
    }
    for (const auto& candidate : candidates) {
        if (!(anyPublic && anyPrivate) || candidate->IsPublic())
            return RetainRefCountable(candidate.Get());
    }
    return nullptr;
}

bool VUTIManager::UTTypeConformsTo(VFile* inFile, const VString& inIdentifier)
{
    if (inFile == nullptr || inIdentifier.IsEmpty())
        return false;
    StErrorContextInstaller quiet(false, true);
    if (!inFile->Exists())
        return false;
    // Linux files carry no four-character type: the extension alone decides.
    VString extension;
    inFile->GetExtension(extension);
    if (extension.IsEmpty())
        return false;
    VRefPtr<VUTI> type =
        AdoptRef(UTTypeCreatePreferredIdentifierForTag(VString(kUTTagClassFilenameExtension), extension, VString()));
    return type && type->ConformsToIdentifier(inIdentifier);
}

}  // namespace qelt
