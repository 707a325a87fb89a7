// The localisation manager: the language check of XLIFF files, the filing of
// units into its tables, .strings files, error keys and the localiser seams.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "TestSupport.h"
#include "XMLTestSupport.h"
#include "files/VFile.h"
#include "files/VFolder.h"
#include "files/VConstPtrStream.h"
#include "kernel/VIntlMgr.h"
#include "process/VProcess.h"
#include "runtime/VErrorBase.h"
#include "runtime/VErrorContext.h"
#include "values/VBagArray.h"
#include "values/VValueBag.h"
#include "xml/VLocalizationManager.h"
#include "xml/VLocalizationXMLHandler.h"
#include "xml/VUTIManager.h"

using namespace qelt;
using qelt::test::Attribute;
using qelt::test::Utf8;

namespace {

unsigned int Dialect(const char* inCode)
{
    unsigned int dialect = 0;
    EXPECT_TRUE(VIntlMgr::GetDialectCodeWithRFC3066BisLanguageCode(VString(inCode), dialect)) << inCode;
    return dialect;
}

VRefPtr<VLocalizationManager> NewManager(const char* inCode = "fr-FR")
{
    return AdoptRef(new VLocalizationManager(Dialect(inCode)));
}

// An XLIFF document: one file (with target-language when given) holding
// the body.
std::string Xliff(const char* inLanguage, const std::string& inBody)
{
    std::string file = "<file original=\"x\"";
    if (inLanguage != nullptr)
        file += std::string(" target-language=\"") + inLanguage + "\"";
    return "<?xml version=\"1.0\" encoding=\"UTF-8\"?><xliff version=\"1.2\">" + file + "><body>" + inBody +
           "</body></file></xliff>";
}

std::string Unit(const char* inResname, const char* inTarget, const std::string& inMore = "")
{
    return std::string("<trans-unit resname=\"") + inResname + "\"" + inMore + "><source>src</source><target>" +
           inTarget + "</target></trans-unit>";
}

void Load(VLocalizationManager* inManager, const std::string& inXliff, bool inAvoidCheck = false)
{
    VString text;
    text.FromBlock(inXliff.data(), inXliff.size(), VTC_UTF_8);
    EXPECT_EQ(inManager->_AnalyzeXLIFFContent(text, inAvoidCheck), VError(0));
}

std::string Lookup(VLocalizationManager* inManager, const char* inKey)
{
    VString text("<none>");
    inManager->LocalizeStringWithKey(VString(inKey), text);
    return Utf8(text);
}

void LoadStrings(VLocalizationManager* inManager, const std::string& inBytes)
{
    VConstPtrStream stream(inBytes.data(), inBytes.size());
    EXPECT_EQ(inManager->_AnalyzeDotStringsStream(&stream), VError(0));
}

}  // namespace

TEST(Localization, TheLanguageCheckDecidesWhichTextsLoadAndWhichReplace)
{
    // Resources (no check), then fr-CA.lproj, then fr.lproj. (The dialect
    // table writes French of France as the bare "fr", so a region of
    // Canada shows the rule.)
    VRefPtr<VLocalizationManager> manager = NewManager("fr-CA");
    Load(manager.Get(), Xliff(nullptr, Unit("k", "R") + Unit("onlyR", "R")), true);
    Load(manager.Get(), Xliff("fr-CA", Unit("k", "FF")));
    Load(manager.Get(), Xliff("fr", Unit("k", "F") + Unit("onlyF", "F")));
    EXPECT_EQ(Lookup(manager.Get(), "k"), "FF");
    EXPECT_EQ(Lookup(manager.Get(), "onlyR"), "R");
    EXPECT_EQ(Lookup(manager.Get(), "onlyF"), "F");

    // Without fr-CA.lproj, the partly matching file only fills gaps.
    VRefPtr<VLocalizationManager> noRegion = NewManager("fr-CA");
    Load(noRegion.Get(), Xliff(nullptr, Unit("k", "R")), true);
    Load(noRegion.Get(), Xliff("fr", Unit("k", "F")));
    EXPECT_EQ(Lookup(noRegion.Get(), "k"), "R");

    // The same code in another case replaces.
    VRefPtr<VLocalizationManager> cased = NewManager("fr-CA");
    Load(cased.Get(), Xliff(nullptr, Unit("k", "R")), true);
    Load(cased.Get(), Xliff("FR-ca", Unit("k", "FF")));
    EXPECT_EQ(Lookup(cased.Get(), "k"), "FF");

    // Another language, or one outside the dialect table, loads nothing; a
    // later file without target-language keeps that decision, and a new
    // manager starts by loading nothing.
    VRefPtr<VLocalizationManager> other = NewManager("fr-CA");
    Load(other.Get(), Xliff(nullptr, Unit("first", "1")));
    Load(other.Get(), Xliff("fr-CA", Unit("a", "A")));
    Load(other.Get(), Xliff("qq-ZZ", Unit("b", "B")));
    Load(other.Get(), Xliff(nullptr, Unit("c", "C")));
    Load(other.Get(), Xliff("de-DE", Unit("d", "D")));
    EXPECT_EQ(Lookup(other.Get(), "first"), "<none>");
    EXPECT_EQ(Lookup(other.Get(), "a"), "A");
    EXPECT_EQ(Lookup(other.Get(), "b"), "<none>");
    EXPECT_EQ(Lookup(other.Get(), "c"), "<none>");
    EXPECT_EQ(Lookup(other.Get(), "d"), "<none>");
}

TEST(Localization, PlatformListsKeepOrDropUnits)
{
    struct Case {
        const char* attributes;
        bool loaded;
    };
    const Case cases[] = {
        {" qv:includeIf=\"win linux\"", false},
        {" qv:excludeIf=\"win\"", true},
        {" qv:includeIf=\"other\"", true},
        {" qv:includeIf=\" MAC  win \"", true},
        {" qv:excludeIf=\"linux mac\"", false},
        {" qv:includeIf=\"mac\" qv:excludeIf=\"mac\"", false},
    };
    for (const Case& c : cases) {
        VRefPtr<VLocalizationManager> manager = NewManager();
        Load(manager.Get(), Xliff("fr-FR", Unit("k", "text", c.attributes)));
        EXPECT_EQ(Lookup(manager.Get(), "k"), c.loaded ? "text" : "<none>") << c.attributes;
    }
}

TEST(Localization, UnitsAreFiledByCodeKeyAndGroup)
{
    VRefPtr<VLocalizationManager> manager = NewManager();
    Load(manager.Get(),
         Xliff("fr-FR",
               "<group id=\"128\" resname=\"alerts\">"
               "<trans-unit id=\"5\" resname=\"x\"><source>s</source><target>five</target></trans-unit>"
               "<trans-unit id=\"1\"><source>one</source></trans-unit>"
               "<trans-unit id=\"2\"><source>two <g>bold</g> after</source></trans-unit>"
               "<trans-unit id=\"4\"><source>four</source></trans-unit>"
               "<trans-unit id=\"6\"></trans-unit>"
               "</group>"
               "<group resname=\"[o]\"><group resname=\"i\">" +
                   Unit("r", "composed") +
                   "</group></group>"
                   "<group resname=\"o\"><group resname=\"i\">" +
                   Unit("plain", "grouped", " id=\"9\"") + "</group></group>"));

    VString text;
    EXPECT_TRUE(manager->LocalizeStringWithSTRSharpCodes(STRSharpCodes(128, 5), text));
    EXPECT_EQ(Utf8(text), "five");
    EXPECT_TRUE(manager->LocalizeStringWithSTRSharpCodes(STRSharpCodes(128, 6), text));
    EXPECT_EQ(Utf8(text), "");
    EXPECT_EQ(Lookup(manager.Get(), "x"), "five");

    // Ids 1, 2 and 4: the list stops at the first missing index. Markup
    // inside a source is skipped; the text around it stays.
    std::vector<VString> texts;
    EXPECT_TRUE(manager->LocalizeGroupOfStringsWithAStrSharpID(128, texts));
    ASSERT_EQ(texts.size(), 2u);
    EXPECT_EQ(Utf8(texts[0]), "one");
    EXPECT_EQ(Utf8(texts[1]), "two  after");

    EXPECT_TRUE(manager->GetOrderedStringsOfGroup(VString("alerts"), texts));
    ASSERT_EQ(texts.size(), 4u);
    EXPECT_EQ(Utf8(texts[0]), "one");
    EXPECT_EQ(Utf8(texts[3]), "five");

    // An outer name in brackets composes the key and files nothing else.
    EXPECT_EQ(Lookup(manager.Get(), "[o]#}[{@i#}[{@r"), "composed");
    EXPECT_EQ(Lookup(manager.Get(), "r"), "<none>");
    EXPECT_FALSE(manager->GetOrderedStringsOfGroup(VString("[o]"), texts));

    // Without brackets: the resname and every enclosing group.
    EXPECT_EQ(Lookup(manager.Get(), "plain"), "grouped");
    for (const char* group : {"o", "i"}) {
        EXPECT_TRUE(manager->GetOrderedStringsOfGroup(VString(group), texts)) << group;
        ASSERT_EQ(texts.size(), 1u);
        EXPECT_EQ(Utf8(texts[0]), "grouped");
    }

    // Keys are exact: another case is another key.
    EXPECT_EQ(Lookup(manager.Get(), "X"), "<none>");

    EXPECT_TRUE(manager->ClearLocalizations());
    EXPECT_EQ(Lookup(manager.Get(), "x"), "<none>");
}

TEST(Localization, TypedGroupsBecomeBags)
{
    VRefPtr<VLocalizationManager> manager = NewManager();
    Load(manager.Get(), Xliff("fr-FR", "<group resname=\"menu\" restype=\"x-menu\" extra=\"e\">" +
                                           Unit("open", "Ouvrir", " id=\"1\"") +
                                           "<trans-unit resname=\"alt\"><source>s</source>"
                                           "<alt-trans resname=\"a1\"><target>alternative</target></alt-trans>"
                                           "</trans-unit>"
                                           "</group><group restype=\"x-menu\">" +
                                           Unit("save", "Enregistrer") + "</group>"));
    VRefPtr<const VValueBag> menu = AdoptRef(manager->RetainGroupBag(VString("menu")));
    ASSERT_TRUE(menu);
    EXPECT_EQ(Attribute(*menu, "restype"), "x-menu");
    EXPECT_EQ(Attribute(*menu, "extra"), "e");
    EXPECT_EQ(Attribute(*menu, "resname"), "menu");
    VBagArray* units = menu->GetElements(StPackedDictionaryKey("trans-unit"));
    ASSERT_NE(units, nullptr);
    ASSERT_EQ(units->GetCount(), 2);
    VRefPtr<VValueBag> first = AdoptRef(units->RetainNth(1));
    EXPECT_EQ(Attribute(*first, "resname"), "open");
    EXPECT_EQ(Attribute(*first, "target"), "Ouvrir");
    VRefPtr<VValueBag> second = AdoptRef(units->RetainNth(2));
    VBagArray* alternatives = second->GetElements(StPackedDictionaryKey("alt-trans"));
    ASSERT_NE(alternatives, nullptr);
    VRefPtr<VValueBag> alternative = AdoptRef(alternatives->RetainNth(1));
    EXPECT_EQ(Attribute(*alternative, "target"), "alternative");
    EXPECT_EQ(Attribute(*second, "target"), "s");

    std::vector<VRefPtr<const VValueBag>> bags;
    manager->RetainGroupBagsByRestype(VString("x-menu"), bags);
    EXPECT_EQ(bags.size(), 2u);
    EXPECT_EQ(manager->RetainGroupBag(VString("nothing")), nullptr);
}

TEST(Localization, DotStringsLinesGiveEntriesOrAreSkipped)
{
    struct Case {
        const char* line;
        const char* key;
        const char* expected;
    };
    const Case cases[] = {
        {"\"a\" = \"b\";", "a", "b"},
        {"a = b;", "a", "b"},
        {"  \"a\"=\"b\";", "a", "b"},
        {"\"a\" = \"b\"", "a", "<none>"},
        {"a = \"b=c\";", "a", "<none>"},
        {"=b;", "", "<none>"},
        {"\"\" = \"b\";", "", "<none>"},
        {";", "", "<none>"},
    };
    for (const Case& c : cases) {
        VRefPtr<VLocalizationManager> manager = NewManager();
        LoadStrings(manager.Get(), std::string(c.line) + "\n");
        EXPECT_EQ(Lookup(manager.Get(), c.key), c.expected) << c.line;
    }

    // Line ends of every kind, a last line without one, the later entry of
    // a key winning.
    VRefPtr<VLocalizationManager> manager = NewManager();
    LoadStrings(manager.Get(), "\"k\" = \"1\";\r\n\r\n\"k\" = \"2\";\r\"m\" = \"\xC3\xA9\";\n\"n\" = \"last\";");
    EXPECT_EQ(Lookup(manager.Get(), "k"), "2");
    EXPECT_EQ(Lookup(manager.Get(), "m"), "\xC3\xA9");
    EXPECT_EQ(Lookup(manager.Get(), "n"), "last");

    // UTF-16 with and without a byte-order mark.
    const std::string utf16le("\xFF\xFE\"\0a\0\"\0=\0\"\0b\0\"\0;\0", 18);
    const std::string utf16be("\0\"\0a\0\"\0=\0\"\0b\0\"\0;", 16);
    for (const std::string& bytes : {utf16le, utf16be}) {
        VRefPtr<VLocalizationManager> wide = NewManager();
        LoadStrings(wide.Get(), bytes);
        EXPECT_EQ(Lookup(wide.Get(), "a"), "b") << bytes.size();
    }
}

TEST(Localization, ErrorKeysNameTheSignatureAndTheSignedNumber)
{
    struct Case {
        VError error;
        const char* key;
    };
    const Case cases[] = {
        {MakeVError(kSignatureXMLC, 3), "ERR_xmlc_3"},
        {QeltError(4), "ERR_qelt_4"},
        {MakeVError(kSignatureUPVQ, -1234567), "ERR_UPVq_-12345"},
        {MakeVError(kSignatureUPVQ, -12), "ERR_UPVq_-12"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(Utf8(VLocalizationManager::ErrorKey(c.error)), c.key);

    VRefPtr<VLocalizationManager> manager = NewManager();
    LoadStrings(manager.Get(), "\"ERR_xmlc_3\" = \"Bad XML at line {line}\";\n");
    VString text;
    EXPECT_TRUE(manager->LocalizeErrorMessage(MakeVError(kSignatureXMLC, 3), text));
    EXPECT_EQ(Utf8(text), "Bad XML at line {line}");
    EXPECT_FALSE(manager->LocalizeErrorMessage(MakeVError(kSignatureXMLC, 2), text));
}

TEST(Localization, ARegisteredManagerLocalizesErrorsUntilItIsDestroyed)
{
    VLocalizationManager* manager = new VLocalizationManager(Dialect("fr-FR"));
    LoadStrings(manager, "\"ERR_xmlc_3\" = \"Bad XML at line {line}\";\n\"hello\" = \"bonjour\";\n");
    VProcess::sInstance->SetLocalizer(manager);
    for (OsType signature : {kSignatureQelt, kSignatureXMLC, kSignaturePW32, kSignatureUPVQ})
        VErrorBase::RegisterLocalizer(signature, manager);

    VRefPtr<VErrorBase> error = AdoptRef(new VErrorBase(MakeVError(kSignatureXMLC, 3)));
    error->GetBag()->SetAttribute(StPackedDictionaryKey("line"), VString("7"));
    VString text;
    error->GetErrorDescription(text);
    EXPECT_EQ(Utf8(text), "Bad XML at line 7");
    EXPECT_EQ(Utf8(LocalizeString(VString("hello"), "hi")), "bonjour");
    EXPECT_EQ(Utf8(LocalizeString(VString("missing"), "caf\xC3\xA9")), "caf\xC3\xA9");

    VUTIManager::GetUTIManager()->SetLocalizationManager(manager);

    manager->Release();
    EXPECT_EQ(VProcess::sInstance->GetLocalizer(), nullptr);
    EXPECT_EQ(VUTIManager::GetUTIManager()->GetLocalizationManager(), nullptr);
    for (OsType signature : {kSignatureQelt, kSignatureXMLC, kSignaturePW32, kSignatureUPVQ})
        EXPECT_EQ(VErrorBase::GetLocalizer(signature), nullptr);
    error->GetErrorDescription(text);
    EXPECT_NE(Utf8(text), "Bad XML at line 7");
    EXPECT_EQ(Utf8(LocalizeString(VString("hello"), "hi")), "hi");
    EXPECT_EQ(Utf8(LocalizeString(VString("hello"), nullptr)), "");
}

namespace {

void WriteFile(const std::string& inPath, const std::string& inContent)
{
    std::filesystem::create_directories(std::filesystem::path(inPath).parent_path());
    std::ofstream(inPath) << inContent;
}

VFolder FolderAt(const std::string& inPath)
{
    return VFolder(VString((inPath + "/").c_str()), FPS_POSIX);
}

}  // namespace

TEST(Localization, ABundlesFoldersLoadFromTheMostSpecificLanguage)
{
    const std::string bundle = qelt::test::MakeTempFolder("bundle") + "/App.app";
    const std::string resources = bundle + "/Contents/Resources";
    WriteFile(resources + "/base.xlf", Xliff(nullptr, Unit("k", "R") + Unit("onlyR", "R")));
    WriteFile(resources + "/base.strings", "\"s\" = \"strings\";\n");
    WriteFile(resources + "/fr-CA.lproj/texts.xlf", Xliff("fr-CA", Unit("k", "FF")));
    WriteFile(resources + "/fr.lproj/texts.xlf", Xliff("fr", Unit("k", "F")));
    WriteFile(resources + "/fr.lproj/notes.txt", "ignored");

    VRefPtr<VLocalizationManager> manager = NewManager("fr-CA");
    VFolder bundleFolder = FolderAt(bundle);
    EXPECT_TRUE(manager->LoadDefaultLocalizationFoldersForComponentOrPlugin(&bundleFolder));
    EXPECT_EQ(Lookup(manager.Get(), "k"), "FF");
    EXPECT_EQ(Lookup(manager.Get(), "onlyR"), "R");
    EXPECT_EQ(Lookup(manager.Get(), "s"), "strings");
    EXPECT_FALSE(manager->DoesNeedAnUpdate());

    // A new .strings file goes unnoticed; a new XLIFF file does not.
    WriteFile(resources + "/fr.lproj/more.strings", "\"m\" = \"more\";\n");
    EXPECT_FALSE(manager->DoesNeedAnUpdate());
    WriteFile(resources + "/fr.lproj/more.xlf", Xliff("fr", Unit("new", "N")));
    EXPECT_TRUE(manager->UpdateIfNeeded());
    EXPECT_EQ(Lookup(manager.Get(), "new"), "N");
    EXPECT_EQ(Lookup(manager.Get(), "m"), "more");
    EXPECT_FALSE(manager->DoesNeedAnUpdate());

    // Without the regional folder, the bare language only fills gaps.
    std::filesystem::remove_all(resources + "/fr-CA.lproj");
    VRefPtr<VLocalizationManager> second = NewManager("fr-CA");
    VFolder resourcesFolder = FolderAt(resources);
    EXPECT_TRUE(second->LoadDefaultLocalizationFolders(&resourcesFolder));
    EXPECT_EQ(Lookup(second.Get(), "k"), "R");

    // Files one by one.
    VFile text(VString((resources + "/fr.lproj/notes.txt").c_str()), FPS_POSIX);
    VFile missing(VString((resources + "/none.xlf").c_str()), FPS_POSIX);
    EXPECT_EQ(second->LoadFile(&text, false), QeltError(613));
    EXPECT_EQ(second->LoadFile(&missing, false), QeltError(600));
    EXPECT_EQ(second->LoadFile(nullptr, false), QeltError(3));
    VFolder none = FolderAt(resources + "/none");
    EXPECT_EQ(second->ScanAndLoadFolder(&none, false), QeltError(600));
    EXPECT_FALSE(second->LoadDefaultLocalizationFolders(&none));
}
