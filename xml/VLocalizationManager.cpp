#include "xml/VLocalizationManager.h"

#include <cstdio>

#include "files/VFile.h"
#include "files/VFileIterator.h"
#include "files/VFileStream.h"
#include "files/VFolder.h"
#include "files/VStream.h"
#include "kernel/VIntlMgr.h"
#include "process/VProcess.h"
#include "runtime/VErrorBase.h"
#include "runtime/VErrorContext.h"
#include "values/VValueBag.h"
#include "xml/VLocalizationXMLHandler.h"
#include "xml/VUTIManager.h"
#include "xml/VXMLParser.h"

namespace qelt {

namespace {

// Replaces or adds the entry; an existing one is replaced only with inReplace.
template <class Map, class Key>
void InsertText(Map& ioMap, const Key& inKey, const VString& inText, bool inReplace)
{
    auto found = ioMap.find(inKey);
    if (found == ioMap.end())
        ioMap.emplace(inKey, inText);
    else if (inReplace)
        found->second = inText;
}

template <class Map, class Key>
bool LookUp(const Map& inMap, const Key& inKey, VString& outText)
{
    auto found = inMap.find(inKey);
    if (found == inMap.end())
        return false;
    outText = found->second;
    return true;
}

}  // namespace

VLocalizationManager::VLocalizationManager(unsigned int inDialect) : fLanguage(inDialect)
{
    fParser = new VXMLParser;
    VXMLParser::Init();
    fXLIFFHandler = new VLocalizationXMLHandler(this);
}

VLocalizationManager::~VLocalizationManager()
{
    {
        std::lock_guard<std::recursive_mutex> lock(VErrorBase::LocalizersMutex());
        VErrorBase::UnregisterLocalizer(static_cast<ILocalizer*>(this));
        if (VProcess::sInstance != nullptr && VProcess::sInstance->GetLocalizer() == this)
            VProcess::sInstance->SetLocalizer(nullptr);
    }
    // The type registry keeps a plain pointer too.
    if (VUTIManager::fSingleton != nullptr && VUTIManager::fSingleton->GetLocalizationManager() == this)
        VUTIManager::fSingleton->SetLocalizationManager(nullptr);
    ReleaseRefCountable(fXLIFFHandler);
    if (fParser != nullptr) {
        VXMLParser::DeInit();
        delete fParser;
    }
}

bool VLocalizationManager::LocalizeStringWithKey(const VString& inKey, VString& outText)
{
    StLocker locker(fLock);
    return LookUp(fKeyTable, inKey, outText);
}

bool VLocalizationManager::LocalizeStringWithDotStringsKey(const VString& inKey, VString& outText)
{
    StLocker locker(fLock);
    return LookUp(fDotStringsTable, inKey, outText);
}

VString VLocalizationManager::ErrorKey(VError inErrorCode)
{
    const unsigned int signature = VErrorComponent(inErrorCode);
    char key[16];
    std::snprintf(key, sizeof(key), "ERR_%c%c%c%c_%d", static_cast<char>(signature >> 24),
                  static_cast<char>(signature >> 16), static_cast<char>(signature >> 8), static_cast<char>(signature),
                  VErrorNumber(inErrorCode));
    return VString(key);
}

bool VLocalizationManager::LocalizeErrorMessage(VError inErrorCode, VString& outText)
{
    return LocalizeStringWithKey(ErrorKey(inErrorCode), outText);
}

unsigned int VLocalizationManager::GetLocalizationLanguage()
{
    return fLanguage;
}

const VValueBag* VLocalizationManager::RetainGroupBag(const VString& inName)
{
    StLocker locker(fLock);
    auto found = fGroupBagsByName.find(inName);
    return found != fGroupBagsByName.end() ? RetainRefCountable(found->second.Get()) : nullptr;
}

bool VLocalizationManager::LocalizeStringWithSTRSharpCodes(const STRSharpCodes& inCodes, VString& outText)
{
    StLocker locker(fLock);
    return LookUp(fSTRSharpTable, inCodes, outText);
}

bool VLocalizationManager::LocalizeGroupOfStringsWithAStrSharpID(int inID, std::vector<VString>& outTexts)
{
    outTexts.clear();
    StLocker locker(fLock);
    for (unsigned int index = 1;; ++index) {
        auto found = fSTRSharpTable.find(STRSharpCodes(inID, index));
        if (found == fSTRSharpTable.end() || index == 0)
            break;
        outTexts.push_back(found->second);
    }
    return !outTexts.empty();
}

bool VLocalizationManager::GetOrderedStringsOfGroup(const VString& inGroupName, std::vector<VString>& outTexts)
{
    outTexts.clear();
    StLocker locker(fLock);
    auto group = fGroupTables.find(inGroupName);
    if (group == fGroupTables.end())
        return false;
    for (const auto& entry : group->second)
        outTexts.push_back(entry.second);
    return !outTexts.empty();
}

void VLocalizationManager::RetainGroupBagsByRestype(const VString& inRestype,
                                                    std::vector<VRefPtr<const VValueBag>>& outBags)
{
    auto range = fGroupBagsByType.equal_range(inRestype);
    for (auto it = range.first; it != range.second; ++it)
        outBags.push_back(it->second);
}

bool VLocalizationManager::ClearLocalizations()
{
    StLocker locker(fLock);
    fSTRSharpTable.clear();
    fKeyTable.clear();
    fGroupTables.clear();
    fDotStringsTable.clear();
    fGroupBagsByName.clear();
    fGroupBagsByType.clear();
    return true;
}

bool VLocalizationManager::LoadDefaultLocalizationFoldersForComponentOrPlugin(VFolder* inBundleFolder)
{
    if (inBundleFolder == nullptr || !inBundleFolder->Exists())
        return false;
    VFolder resources(*inBundleFolder, VString("Contents/Resources/"), FPS_POSIX);
    return LoadDefaultLocalizationFolders(&resources);
}

bool VLocalizationManager::LoadDefaultLocalizationFolders(VFolder* inResourcesFolder)
{
    if (inResourcesFolder == nullptr || !inResourcesFolder->Exists())
        return false;
    ScanAndLoadFolder(inResourcesFolder, true);
    std::vector<VRefPtr<VFolder>> folders;
    if (!VIntlMgr::GetLocalizationFoldersWithDialect(fLanguage, inResourcesFolder->GetPath(), folders))
        return false;
    fLanguageFolders = folders;
    bool loaded = false;
    for (const VRefPtr<VFolder>& folder : folders)
        loaded = ScanAndLoadFolder(folder.Get(), false) == 0 || loaded;
    return loaded;
}

VError VLocalizationManager::ScanAndLoadFolder(VFolder* inFolder, bool inAvoidLanguageCheck)
{
    if (inFolder == nullptr)
        return QeltError(3);
    if (!inFolder->Exists())
        return QeltError(600);
    for (VFileIterator file(inFolder, kIterateFiles); file.IsValid(); ++file)
        _LoadFile(file.Current(), inAvoidLanguageCheck, true);
    for (const VFilePath& path : fLoadedPaths) {
        if (path.IsFolder()) {
            VFolder loaded(path);
            if (loaded.IsSameFolder(inFolder))
                return 0;
        }
    }
    fLoadedPaths.push_back(inFolder->GetPath());
    return 0;
}

VError VLocalizationManager::LoadFile(VFile* inFile, bool inAvoidLanguageCheck)
{
    return _LoadFile(inFile, inAvoidLanguageCheck, false);
}

VError VLocalizationManager::_LoadFile(VFile* inFile, bool inAvoidLanguageCheck, bool inFromScan)
{
    if (inFile == nullptr)
        return QeltError(3);
    if (!inFile->Exists())
        return QeltError(600);
    if (inFile->MatchExtension(VString("xlf"))) {
        if (AnalyzeXLIFFFile(inFile, inAvoidLanguageCheck) != 0)
            return 0;
        if (!inFromScan) {
            bool known = false;
            for (const VFilePath& path : fLoadedPaths) {
                if (path.IsFile()) {
                    VFile loaded(path);
                    known = known || loaded.IsSameFile(inFile);
                }
            }
            if (!known)
                fLoadedPaths.push_back(inFile->GetPath());
        }
        VTime modified;
        if (inFile->GetTimeAttributes(&modified, nullptr, nullptr) == 0)
            fFileStamps[inFile->GetPath()] = modified;
        return 0;
    }
    if (inFile->MatchExtension(VString("strings"))) {
        AnalyzeDotStringsFile(inFile);
        return 0;
    }
    return QeltError(613);
}

VError VLocalizationManager::AnalyzeXLIFFFile(VFile* inFile, bool inAvoidLanguageCheck)
{
    if (inFile == nullptr)
        return QeltError(3);
    VString text;
    const VError error = inFile->GetContentAsString(text, VTC_UTF_8, eCRM_NONE);
    if (error != 0)
        return error;
    return _AnalyzeXLIFFContent(text, inAvoidLanguageCheck);
}

VError VLocalizationManager::AnalyzeDotStringsFile(VFile* inFile)
{
    if (inFile == nullptr)
        return QeltError(3);
    if (!inFile->Exists())
        return QeltError(600);
    VFileStream stream(inFile, kFileOptionReadAhead);
    return _AnalyzeDotStringsStream(&stream);
}

bool VLocalizationManager::DoesNeedAnUpdate()
{
    StLocker locker(fLock);
    bool needed = false;
    std::map<VFilePath, VTime, CompareTwoVFilePaths> fresh;
    for (const auto& [path, stamp] : fFileStamps) {
        VFile file(path);
        if (!file.Exists()) {
            needed = true;
            continue;
        }
        VTime modified;
        StErrorContextInstaller quiet(false, true);
        if (file.GetTimeAttributes(&modified, nullptr, nullptr) != 0)
            continue;
        fresh[path] = modified;
        if (modified != stamp)
            needed = true;
    }
    fFileStamps.swap(fresh);
    for (size_t i = 0; !needed && i < fLoadedPaths.size(); ++i) {
        if (!fLoadedPaths[i].IsFolder())
            continue;
        VRefPtr<VFolder> folder = AdoptRef(new VFolder(fLoadedPaths[i]));
        if (!folder->Exists())
            continue;
        for (VFileIterator file(folder.Get(), kIterateFiles); file.IsValid() && !needed; ++file) {
            if (file->MatchExtension(VString("xlf")) && fFileStamps.find(file->GetPath()) == fFileStamps.end())
                needed = true;
        }
    }
    return needed;
}

bool VLocalizationManager::UpdateIfNeeded()
{
    if (!DoesNeedAnUpdate())
        return false;
    ClearLocalizations();
    const std::vector<VFilePath> paths = fLoadedPaths;
    for (const VFilePath& path : paths) {
        if (!path.IsValid())
            continue;
        if (path.IsFolder()) {
            VRefPtr<VFolder> folder = AdoptRef(new VFolder(path));
            if (folder->Exists())
                ScanAndLoadFolder(folder.Get(), false);
        } else {
            VRefPtr<VFile> file = AdoptRef(new VFile(path));
            if (file->Exists())
                _LoadFile(file.Get(), false, false);
        }
    }
    return true;
}

VError VLocalizationManager::_AnalyzeXLIFFContent(const VString& inText, bool inAvoidLanguageCheck)
{
    fXLIFFHandler->SetAvoidLanguageChecking(inAvoidLanguageCheck);
    fParser->Parse(inText, fXLIFFHandler, kXMLValidateNever);
    fXLIFFHandler->SetAvoidLanguageChecking(false);
    return 0;
}

VError VLocalizationManager::_AnalyzeDotStringsStream(VStream* inStream)
{
    VError error = inStream->OpenReading();
    if (error == 0)
        error = inStream->GuessCharSetFromLeadingBytes(VTC_UTF_16_BIGENDIAN, false);
    if (error != 0) {
        if (inStream->IsReading())
            inStream->CloseReading();
        return error;
    }
    inStream->SetCarriageReturnMode(eCRM_LF);
    VString line;
    std::vector<VString> parts;
    while (inStream->GetTextLine(line, false) == 0) {
        if (line.IsEmpty())
            continue;
        // The last character closes the entry (';'); it is not looked at.
        line.Truncate(line.GetLength() - 1, false);
        parts.clear();
        line.GetSubStrings(UniChar('='), parts, false, false);
        if (parts.size() != 2 || parts[0].IsEmpty() || parts[1].IsEmpty())
            continue;
        for (VString& part : parts) {
            part.RemoveWhiteSpaces();
            if (part.GetLength() > 0 && part.GetUniChar(1) == '"') {
                if (part.GetLength() <= 2)
                    part.Clear();
                else
                    part.SubString(2, part.GetLength() - 2);
            }
        }
        if (!parts[0].IsEmpty() && !parts[1].IsEmpty())
            _InsertDotStringsKeyAndString(parts[0], parts[1], true);
    }
    inStream->CloseReading();
    return 0;
}

bool VLocalizationManager::_InsertSTRSharpCodeAndString(STRSharpCodes inCodes, const VString& inText, bool inReplace)
{
    InsertText(fSTRSharpTable, inCodes, inText, inReplace);
    return true;
}

bool VLocalizationManager::_InsertObjectURLAndString(const VString& inKey, const VString& inText, bool inReplace)
{
    InsertText(fKeyTable, inKey, inText, inReplace);
    return true;
}

bool VLocalizationManager::_InsertDotStringsKeyAndString(const VString& inKey, const VString& inText, bool inReplace)
{
    InsertText(fKeyTable, inKey, inText, inReplace);
    return true;
}

bool VLocalizationManager::_InsertIDAndStringInAGroup(unsigned int inID, const VString& inText,
                                                      const VString& inGroupName, bool inReplace)
{
    InsertText(fGroupTables[inGroupName], inID, inText, inReplace);
    return true;
}

bool VLocalizationManager::_InsertGroupBag(const VString& inName, const VString& inRestype, const VValueBag* inBag)
{
    if (inBag == nullptr)
        return true;
    if (!inName.IsEmpty() && fGroupBagsByName.find(inName) == fGroupBagsByName.end())
        fGroupBagsByName.emplace(inName, VRefPtr<const VValueBag>(inBag));
    fGroupBagsByType.emplace(inRestype, VRefPtr<const VValueBag>(inBag));
    return true;
}

VString LocalizeString(const VString& inKey, const char* inFallback)
{
    VString text;
    {
        std::lock_guard<std::recursive_mutex> lock(VErrorBase::LocalizersMutex());
        ILocalizer* localizer = VProcess::sInstance != nullptr ? VProcess::sInstance->GetLocalizer() : nullptr;
        if (localizer != nullptr && localizer->LocalizeStringWithKey(inKey, text))
            return text;
    }
    if (inFallback != nullptr)
        text.FromCString(inFallback);
    else
        text.Clear();
    return text;
}

}  // namespace qelt
