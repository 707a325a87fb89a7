#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "TestSupport.h"
#include "files/VFolder.h"
#include "kernel/StStringConverter.h"
#include "process/VComponentManager.h"

namespace qelt {
namespace {

constexpr uint32_t kNone = VComponentManager::kNoDialect;

// A bundle folder with the given subfolders in Contents/Resources.
std::string MakeBundle(const std::vector<std::string>& inFolders)
{
    std::string bundle = test::MakeTempFolder("bundle") + "/App.app";
    for (const std::string& folder : inFolders)
        std::filesystem::create_directories(bundle + "/Contents/Resources/" + folder);
    std::filesystem::create_directories(bundle + "/Contents/Resources");
    return bundle;
}

uint32_t Choose(const std::string& inFolder, bool inIsBundle, uint32_t inWanted)
{
    VString path(inFolder.c_str());
    return VComponentManager::GetLocalizationLanguage(&path, inIsBundle, inWanted);
}

TEST(LocalizationLanguage, LanguageFoldersDecideTheDialect)
{
    struct Case {
        std::vector<std::string> folders;
        uint32_t wanted;
        uint32_t expected;
    } cases[] = {
        {{"de.lproj", "English.lproj"}, 1036, 1033},   // no French: English wins
        {{"de.lproj", "fr.lproj"}, 1036, 1036},
        {{"French.lproj", "Images"}, 1036, 1036},
        {{"EN.LPROJ"}, 0, 1033},                       // wanted 0 outside a bundle looks for English
        {{"xx.lproj"}, 1036, kNone},                   // the last folder was not recognised
        {{"de.lproj"}, 1036, 1031},                    // else the last one seen
        {{"Images", "Scripts"}, 1036, kNone},
        {{}, 0, kNone},
    };
    for (const Case& c : cases) {
        std::string bundle = MakeBundle(c.folders);
        EXPECT_EQ(Choose(bundle, true, c.wanted), c.expected) << (c.folders.empty() ? "" : c.folders[0]);
        EXPECT_EQ(Choose(bundle + "/Contents/Resources", false, c.wanted), c.expected);
    }
}

TEST(LocalizationLanguage, FolderObjectsChooseAsTheirPathsDo)
{
    std::string bundle = MakeBundle({"de.lproj", "English.lproj"});
    VFolder folder(VFilePath(VString((bundle + "/").c_str()), FPS_POSIX));
    EXPECT_EQ(VComponentManager::GetLocalizationLanguage(&folder, true, 1036), 1033u);
    VFolder resources(VFilePath(VString((bundle + "/Contents/Resources/").c_str()), FPS_POSIX));
    EXPECT_EQ(VComponentManager::GetLocalizationLanguage(&resources, false, 1031), 1031u);
    VFolder missing(VFilePath(VString((bundle + "/missing/").c_str()), FPS_POSIX));
    EXPECT_EQ(VComponentManager::GetLocalizationLanguage(&missing, true, 1036), kNone);
    EXPECT_EQ(VComponentManager::GetLocalizationLanguage(static_cast<VFolder*>(nullptr), true, 1036), kNone);
}

TEST(LocalizationLanguage, MissingFoldersGiveNoDialect)
{
    EXPECT_EQ(VComponentManager::GetLocalizationLanguage(static_cast<const VString*>(nullptr), true, 0), kNone);
    EXPECT_EQ(Choose(test::TempRoot() + "/missing", true, 0), kNone);
    // A bundle without resources: an empty walk.
    EXPECT_EQ(Choose(test::MakeTempFolder("empty"), true, 1036), kNone);
}

TEST(LocalizationLanguage, PreferredLocalizationFollowsTheUserLanguages)
{
    auto strings = [](std::initializer_list<const char*> inTexts) {
        std::vector<VString> out;
        for (const char* text : inTexts)
            out.emplace_back(text);
        return out;
    };
    auto choose = [](const std::vector<VString>& locs, const std::vector<VString>& users, const char* region) {
        VString chosen = VComponentManager::ChoosePreferredLocalization(locs, users, VString(region));
        return to_string(chosen);
    };
    EXPECT_EQ(choose(strings({"English", "fr", "de"}), strings({"de_DE", "fr"}), ""), "de");
    EXPECT_EQ(choose(strings({"English", "fr-CA", "fr"}), strings({"fr_CA"}), ""), "fr-CA");
    EXPECT_EQ(choose(strings({"English", "fr-CA"}), strings({"fr_FR"}), ""), "fr-CA");
    EXPECT_EQ(choose(strings({"English", "French"}), strings({"it", "fr"}), "English"), "French");
    EXPECT_EQ(choose(strings({"de", "fr"}), strings({"ja"}), "fr"), "fr");
    EXPECT_EQ(choose(strings({"de", "fr"}), strings({}), ""), "de");
}

}  // namespace
}  // namespace qelt
