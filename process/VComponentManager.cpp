#include "process/VComponentManager.h"

#include <string>

#include "files/VFolder.h"
#include "kernel/StStringConverter.h"
#include "kernel/VIntlMgr.h"
#include "platform/PlatBundle.h"
#include "platform/PlatFile.h"
#include "platform/PlatFolders.h"
#include "platform/PlatLocale.h"

namespace qelt {

namespace {

constexpr uint32_t kEnglishUS = 1033;

VString FromUTF8(const std::string& inText)
{
    VString text;
    text.FromBlock(inText.data(), inText.size(), VTC_UTF_8);
    return text;
}

// A language folder's or localisation's name as a dialect: as a code ("en",
// "fr-CA", "pt_BR") then as an English language name ("French"), or the
// other way round.
bool DialectOfName(const VString& inName, bool inCodeFirst, uint32_t& outDialect)
{
    unsigned int dialect = VComponentManager::kNoDialect;
    bool ok = inCodeFirst ? VIntlMgr::GetDialectCodeWithRFC3066BisLanguageCode(inName, dialect, true, true) ||
                                VIntlMgr::GetDialectCodeWithISOLanguageName(inName, dialect)
                          : VIntlMgr::GetDialectCodeWithISOLanguageName(inName, dialect) ||
                                VIntlMgr::GetDialectCodeWithRFC3066BisLanguageCode(inName, dialect, true, true);
    outDialect = ok ? dialect : VComponentManager::kNoDialect;
    return ok;
}

// The subfolder names of a folder, in the order the system lists them.
std::vector<std::string> SubfolderNames(const std::string& inFolder)
{
    std::vector<std::string> names;
    // Hidden names count, and a link counts by what it leads to.
    plat::FolderLister lister(inFolder.c_str(), plat::kListFolders | plat::kListInvisible | plat::kListResolveLinks);
    plat::FolderEntry entry;
    while (lister.Next(entry))
        names.push_back(entry.name);
    return names;
}

// The position of ".lproj" in the name, case and diacritics ignored; 0 when none.
int FindLproj(const VString& inName) { return inName.Find(VString(".lproj"), 1, false); }

}  // namespace

uint32_t VComponentManager::GetLocalizationLanguage(VFolder* inFolder, bool inIsBundle, uint32_t inWanted)
{
    if (inFolder == nullptr || !inFolder->Exists())
        return kNoDialect;
    VString path;
    inFolder->GetPlatformPath(path, FPS_POSIX);
    return GetLocalizationLanguage(&path, inIsBundle, inWanted);
}

uint32_t VComponentManager::GetLocalizationLanguage(const VString* inFolderPath, bool inIsBundle, uint32_t inWanted)
{
    if (inFolderPath == nullptr || inFolderPath->IsEmpty())
        return kNoDialect;
    std::string folder = to_string(*inFolderPath);
    plat::EntryInfo info;
    if (plat::GetEntryInfo(folder.c_str(), true, info) != 0 || info.kind != plat::EntryKind::Folder)
        return kNoDialect;
    if (inIsBundle)
        folder += "/Contents/Resources";

    uint32_t wanted = inWanted;
    uint32_t lastSeen = kNoDialect;
    bool wantedSeen = false;
    bool englishSeen = false;
    if (wanted == 0) {
        wanted = kEnglishUS;
        // The main bundle's own choice among its own localisations is
        // trusted without looking at the folders.
        VString preferred;
        if (GetMainBundlePreferredLocalization(preferred)) {
            uint32_t dialect = kEnglishUS;
            if (!DialectOfName(preferred, false, dialect))
                dialect = kEnglishUS;
            return dialect;
        }
    }

    for (const std::string& entry : SubfolderNames(folder)) {
        VString name = FromUTF8(entry);
        int found = FindLproj(name);
        if (found <= 0)
            continue;
        uint32_t dialect = kNoDialect;
        bool recognised = DialectOfName(name.Before(found), true, dialect);
        lastSeen = dialect;
        if (!recognised)
            continue;
        if (dialect == kEnglishUS)
            englishSeen = true;
        if (dialect == wanted) {
            wantedSeen = true;
            break;
        }
    }
    if (wantedSeen)
        return wanted;
    if (englishSeen)
        return kEnglishUS;
    return lastSeen;
}

bool VComponentManager::GetMainBundlePreferredLocalization(VString& outLocalization)
{
    if (plat::GetMainBundlePath().empty())
        return false;
    std::vector<std::string> names;
    if (!plat::GetMainBundleInfoStrings("CFBundleLocalizations", names) || names.empty()) {
        names.clear();
        for (const std::string& entry : SubfolderNames(plat::GetMainBundleResourcesFolder())) {
            VString name = FromUTF8(entry);
            int found = FindLproj(name);
            if (found > 0)
                names.push_back(to_string(name.Before(found)));
        }
    }
    if (names.empty())
        return false;
    std::vector<VString> localizations;
    for (const std::string& name : names)
        localizations.push_back(FromUTF8(name));
    std::vector<VString> languages;
    for (const std::string& language : plat::GetPreferredLanguages())
        languages.push_back(FromUTF8(language));
    std::string region;
    plat::GetMainBundleInfoValue("CFBundleDevelopmentRegion", region);
    outLocalization = ChoosePreferredLocalization(localizations, languages, FromUTF8(region));
    return true;
}

VString VComponentManager::ChoosePreferredLocalization(const std::vector<VString>& inLocalizations,
                                                       const std::vector<VString>& inUserLanguages,
                                                       const VString& inDevelopmentRegion)
{
    if (inLocalizations.empty())
        return VString();
    std::vector<uint32_t> dialects;
    for (const VString& localization : inLocalizations) {
        uint32_t dialect = kNoDialect;
        DialectOfName(localization, false, dialect);
        dialects.push_back(dialect);
    }
    // Windows-style dialect codes keep the language in their low ten bits.
    auto language = [](uint32_t inDialect) { return inDialect & 0x3FF; };
    for (const VString& user : inUserLanguages) {
        uint32_t wanted = kNoDialect;
        if (!VIntlMgr::GetDialectCodeWithRFC3066BisLanguageCode(user, wanted, true, true))
            continue;
        for (size_t i = 0; i < dialects.size(); ++i)
            if (dialects[i] == wanted)
                return inLocalizations[i];
        for (size_t i = 0; i < dialects.size(); ++i)
            if (dialects[i] != kNoDialect && language(dialects[i]) == language(wanted))
                return inLocalizations[i];
    }
    if (!inDevelopmentRegion.IsEmpty())
        return inDevelopmentRegion;
    return inLocalizations.front();
}

}  // namespace qelt
