#include <gtest/gtest.h>

#include <dlfcn.h>
#include <cmath>
#include <cstring>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "InChildProcess.h"
#include "TestSupport.h"
#include "files/VFile.h"
#include "files/VFilePath.h"
#include "files/VFolder.h"
#include "process/VComponentManager.h"
#include "kernel/VMemory.h"
#include "process/VLibrary.h"
#include "runtime/VErrorContext.h"
#include "values/VValueBag.h"

namespace qelt {
namespace {

namespace fs = std::filesystem;

const char* const kLibrary = QELT_TEST_COMPONENT;

VFilePath FilePath(const std::string& inPath) { return VFilePath(VString(inPath.c_str()), FPS_POSIX); }
VFilePath FolderPath(const std::string& inPath) { return VFilePath(VString((inPath + "/").c_str()), FPS_POSIX); }

void WriteText(const std::string& inPath, const std::string& inText)
{
    fs::create_directories(fs::path(inPath).parent_path());
    std::ofstream(inPath, std::ios::binary) << inText;
}

// Name.bundle/Contents/{Info.plist, MacOS/<exe>, Resources/}.
std::string MakeBundle(const std::string& inFolder, const std::string& inName, const std::string& inExtension)
{
    std::string bundle = inFolder + "/" + inName + "." + inExtension;
    fs::create_directories(bundle + "/Contents/MacOS");
    fs::create_directories(bundle + "/Contents/Resources");
    WriteText(bundle + "/Contents/Info.plist",
              "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<plist version=\"1.0\"><dict>\n"
              "<key>CFBundleExecutable</key><string>" + inName + "</string>\n</dict></plist>\n");
    fs::copy_file(kLibrary, bundle + "/Contents/MacOS/" + inName);
    return bundle;
}

std::string FolderOf(VFolder* inFolder)
{
    if (inFolder == nullptr)
        return "null";
    VString posix;
    inFolder->GetPath().GetPosixPath(posix);
    inFolder->Release();
    std::string text;
    for (int i = 0; i < posix.GetLength(); ++i)
        text.push_back(static_cast<char>(posix.GetCPointer()[i]));
    return text;
}

TEST(Library, ALibraryFileLoadsOnceAndFindsItsFunctions)
{
    VLibrary library(FilePath(kLibrary));
    EXPECT_EQ(library.GetProcAddress(VString("Main")), nullptr);  // not loaded yet
    ASSERT_TRUE(library.Load());
    EXPECT_TRUE(library.Load());
    EXPECT_NE(library.GetProcAddress(VString("Main")), nullptr);
    EXPECT_NE(library.GetProcAddress(VString("CreateComponent")), nullptr);
    EXPECT_EQ(library.GetProcAddress(VString("NoSuchFunction")), nullptr);
    EXPECT_EQ(library.RetainFolder(kBUNDLE_RESOURCES_FOLDER), nullptr);  // no bundle
    EXPECT_EQ(library.RetainResourceFile(), nullptr);

    // Paths compare exactly: another letter case is another file.
    EXPECT_TRUE(library.IsSameFile(FilePath(kLibrary)));
    std::string upper = kLibrary;
    upper.replace(upper.rfind("qelt"), 4, "QELT");
    EXPECT_FALSE(library.IsSameFile(FilePath(upper)));

    library.Unload();
    EXPECT_EQ(library.GetProcAddress(VString("Main")), nullptr);
    EXPECT_TRUE(library.Load());
}

TEST(Library, ABundleAnswersItsExecutableAndResourcesFoldersOnly)
{
    std::string folder = test::MakeTempFolder("bundle");
    std::string bundle = MakeBundle(folder, "Test", "bundle");
    VLibrary library(FolderPath(bundle));
    ASSERT_TRUE(library.Load());
    EXPECT_NE(library.GetProcAddress(VString("GetNthComponentType")), nullptr);
    EXPECT_EQ(FolderOf(library.RetainFolder(kBUNDLE_FOLDER)), bundle + "/");
    EXPECT_EQ(FolderOf(library.RetainFolder(kBUNDLE_EXECUTABLE_FOLDER)), bundle + "/Contents/MacOS/");
    EXPECT_EQ(FolderOf(library.RetainFolder(kBUNDLE_RESOURCES_FOLDER)), bundle + "/Contents/Resources/");
    EXPECT_EQ(FolderOf(library.RetainFolder(4)), "null");
    EXPECT_EQ(FolderOf(library.RetainFolder(kBUNDLE_PLUGINS_FOLDER)), "null");  // the bundle has none
    EXPECT_EQ(FolderOf(library.RetainFolder(99)), "null");
    VFile* executable = library.RetainExecutableFile();
    ASSERT_NE(executable, nullptr);
    executable->Release();
}

TEST(Library, AFrameworkWithFlattenedLinksGetsItsRelativeLinksBack)
{
    std::string folder = test::MakeTempFolder("framework");
    std::string framework = folder + "/Fw.framework";
    fs::create_directories(framework + "/Versions/A/Resources");
    fs::copy_file(kLibrary, framework + "/Versions/A/Fw");
    WriteText(framework + "/Versions/Current", "A");
    WriteText(framework + "/Resources", "Versions/Current/Resources");
    // The classic link-file form: the target is its fourth line.
    WriteText(framework + "/Fw", "XSym\n0019\n0123456789abcdef\nVersions/Current/Fw\n\n");
    VLibrary library(FolderPath(framework));
    ASSERT_TRUE(library.Load());
    struct Case {
        const char* link;
        const char* target;
    } cases[] = {{"/Versions/Current", "A"},
                 {"/Resources", "Versions/Current/Resources"},
                 {"/Fw", "Versions/Current/Fw"}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.link);
        EXPECT_TRUE(fs::is_symlink(framework + c.link));
        EXPECT_EQ(fs::read_symlink(framework + c.link).string(), c.target);
    }
    EXPECT_FALSE(fs::exists(framework + "/Fw.qelt-link"));
}

std::vector<int> Codes(const StErrorContextInstaller& inErrors)
{
    std::vector<int> codes;
    for (const VErrorBase* error : inErrors.GetContext()->GetErrors())
        codes.push_back(static_cast<int>(error->GetError() & 0xFFFFFFFF));
    return codes;
}

TEST(Library, LoadFailuresAndBrokenLinkFilesAreReportedAsErrors)
{
    std::string folder = test::MakeTempFolder("library errors");
    std::string notALibrary = folder + "/plain.so";
    WriteText(notALibrary, "not a library");
    // A framework whose version link file has only three lines: the repair
    // stops with 617 and the bundle still loads.
    std::string framework = MakeBundle(folder, "Broken", "framework");
    WriteText(framework + "/Versions/Current", "XSym\n0001\nabc\n");
    std::string out = test::InChildWithProcess([&] {
        {
            StErrorContextInstaller errors(false);
            VLibrary library(FilePath(notALibrary));
            bool loaded = library.Load();
            VString reason;
            const VErrorBase* last = errors.GetContext()->GetLast();
            bool hasReason = last != nullptr && last->GetBag()->GetAttribute("reason", reason) && reason.GetLength() > 0;
            std::printf("%d %d %d|", loaded, errors.GetLastError() == QeltError(1010), hasReason);
        }
        {
            StErrorContextInstaller errors(false);
            VLibrary library(FolderPath(framework));
            bool loaded = library.Load();
            std::vector<int> codes = Codes(errors);
            std::printf("%d %zu %d", loaded, codes.size(), codes.empty() ? 0 : codes[0]);
        }
    });
    EXPECT_EQ(out, "0 1 1|1 1 617");
}

// ---- Component manager ------------------------------------------------------

constexpr uint32_t kTypeA = 0x74734100;
constexpr uint32_t kTypeB = 0x74734200;

// A component made by a creator of the test program, with a record that
// lists chosen requirements.
struct Requirement {
    uint32_t type;
    uint32_t minimum;
};

class TestComponent : public CComponent {
public:
    TestComponent(uint32_t inType, uint32_t inFamily, uint32_t inVersion, std::vector<Requirement> inRequirements,
                  int32_t inDeclaredCount = -1)
        : fType(inType),
          fFamily(inFamily),
          fVersion(inVersion),
          fRequirements(std::move(inRequirements)),
          fDeclaredCount(inDeclaredCount)
    {
    }
    int32_t Retain(const char* = nullptr) override { return ++fCount; }
    int32_t Release(const char* = nullptr) override
    {
        int32_t count = --fCount;
        if (count == 0)
            delete this;
        return count;
    }
    void* GetComponentInfo() override
    {
        const uint32_t size = static_cast<uint32_t>(52 + 8 * fRequirements.size());
        auto* record = static_cast<uint8_t*>(VMemory::NewPtrClear(size, 0));
        const int32_t format = 0x10000;
        const int32_t count = fDeclaredCount >= 0 ? fDeclaredCount : static_cast<int32_t>(fRequirements.size());
        std::memcpy(record, &format, 4);
        std::memcpy(record + 4, &size, 4);
        std::memcpy(record + 20, &fVersion, 4);
        std::memcpy(record + 40, &count, 4);
        for (size_t i = 0; i < fRequirements.size(); ++i) {
            std::memcpy(record + 44 + 8 * i, &fRequirements[i].type, 4);
            std::memcpy(record + 48 + 8 * i, &fRequirements[i].minimum, 4);
        }
        return record;
    }
    uint32_t GetComponentType() override { return fType; }
    uint32_t GetComponentFamily() override { return fFamily; }
    int32_t RefCount() const { return fCount; }

private:
    std::atomic<int32_t> fCount{1};
    uint32_t fType, fFamily, fVersion;
    std::vector<Requirement> fRequirements;
    int32_t fDeclaredCount;
};

class ComponentManager : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(VComponentManager::Init()); }
    void TearDown() override { VComponentManager::DeInit(); }
};

CComponent* MakeA(uint32_t inType, uint32_t inFamily) { return new TestComponent(inType, inFamily, 1, {}); }
CComponent* MakeOther(uint32_t inType, uint32_t inFamily) { return new TestComponent(inType, inFamily, 1, {}); }

TEST(ComponentManagerBeforeInit, EverythingAnswers1000OrNothing)
{
    VComponentManager::DeInit();
    TestComponent component(1, 1, 1, {});
    EXPECT_EQ(VComponentManager::RegisterComponentInstance(&component), QeltError(1000));
    EXPECT_EQ(VComponentManager::RegisterComponentCreator(1, &MakeA), QeltError(1000));
    EXPECT_EQ(VComponentManager::RegisterComponentLibrary(FilePath(kLibrary)), QeltError(1000));
    EXPECT_EQ(VComponentManager::RetainComponent(1), nullptr);
    EXPECT_EQ(VComponentManager::RetainUniqueComponent(1), nullptr);
    EXPECT_FALSE(VComponentManager::IsComponentAvailable(1));
}

TEST_F(ComponentManager, ALibraryRegistersItsTypesOnceAndComesOffAgain)
{
    ASSERT_EQ(VComponentManager::RegisterComponentLibrary(FilePath(kLibrary)), 0);
    EXPECT_EQ(VComponentManager::RegisterComponentLibrary(FilePath(kLibrary)), QeltError(1002));
    EXPECT_TRUE(VComponentManager::IsComponentAvailable(kTypeA));
    EXPECT_TRUE(VComponentManager::IsComponentAvailable(kTypeB));
    auto calls = reinterpret_cast<int (*)(int)>(::dlsym(::dlopen(kLibrary, RTLD_NOW | RTLD_NOLOAD), "TestMainCalls"));
    ASSERT_NE(calls, nullptr);
    const int left = calls(1);
    EXPECT_GE(calls(0), 1);

    CComponent* component = VComponentManager::RetainComponent(kTypeA);
    ASSERT_NE(component, nullptr);
    EXPECT_EQ(component->GetComponentType(), kTypeA);
    // The shared instance comes back.
    CComponent* again = VComponentManager::RetainComponent(kTypeA);
    EXPECT_EQ(again, component);
    again->Release();
    EXPECT_EQ(VComponentManager::UnRegisterComponentInstance(component), 0);
    component->Release();

    EXPECT_EQ(VComponentManager::UnRegisterComponentLibrary(FilePath(kLibrary)), 0);
    EXPECT_EQ(calls(1), left + 1);  // "Main" hears 'leav' once
    EXPECT_FALSE(VComponentManager::IsComponentAvailable(kTypeA));
    EXPECT_EQ(VComponentManager::UnRegisterComponentLibrary(FilePath(kLibrary)), QeltError(1001));
    EXPECT_EQ(VComponentManager::RegisterComponentLibrary(FilePath(std::string(kLibrary) + ".missing")), QeltError(100));
}

TEST_F(ComponentManager, ALibraryWithoutTheEntryPointsIsRefused)
{
    // The mathematics library loads but exports none of the three.
    Dl_info info;
    ASSERT_NE(::dladdr(reinterpret_cast<void*>(static_cast<double (*)(double)>(&::cos)), &info), 0);
    EXPECT_EQ(VComponentManager::RegisterComponentLibrary(FilePath(info.dli_fname)), QeltError(1004));
    EXPECT_EQ(VComponentManager::UnRegisterComponentLibrary(FilePath(info.dli_fname)), QeltError(1001));
}

TEST_F(ComponentManager, ACreatorServesBeforeALibraryAndEachOutlivesTheOther)
{
    ASSERT_EQ(VComponentManager::RegisterComponentCreator(kTypeA, &MakeA), 0);
    EXPECT_EQ(VComponentManager::RegisterComponentCreator(kTypeA, &MakeA), QeltError(1002));
    ASSERT_EQ(VComponentManager::RegisterComponentLibrary(FilePath(kLibrary)), 0);
    CComponent* made = VComponentManager::RetainUniqueComponent(kTypeA);
    ASSERT_NE(made, nullptr);
    EXPECT_NE(dynamic_cast<TestComponent*>(made), nullptr);  // the creator's
    made->Release();

    EXPECT_EQ(VComponentManager::UnRegisterComponentLibrary(FilePath(kLibrary)), 0);
    EXPECT_TRUE(VComponentManager::IsComponentAvailable(kTypeA));  // with its creator
    EXPECT_FALSE(VComponentManager::IsComponentAvailable(kTypeB));

    ASSERT_EQ(VComponentManager::RegisterComponentLibrary(FilePath(kLibrary)), 0);
    EXPECT_EQ(VComponentManager::UnRegisterComponentCreator(kTypeA, &MakeOther), QeltError(1001));
    EXPECT_EQ(VComponentManager::UnRegisterComponentCreator(kTypeA, &MakeA), 0);
    EXPECT_TRUE(VComponentManager::IsComponentAvailable(kTypeA));  // with its library
    made = VComponentManager::RetainUniqueComponent(kTypeA);
    ASSERT_NE(made, nullptr);
    EXPECT_EQ(dynamic_cast<TestComponent*>(made), nullptr);  // the library's
    made->Release();
    EXPECT_EQ(VComponentManager::UnRegisterComponentType(kTypeA), 0);
    EXPECT_EQ(VComponentManager::UnRegisterComponentType(kTypeA), QeltError(1003));
}

TEST_F(ComponentManager, LibraryReferencesAreGivenBackWhenReplacedAndAtDeInit)
{
    // A second copy of the library serves the same types: it replaces every
    // entry of the first, which is then unloaded.
    std::string folder = test::MakeTempFolder("library copies");
    std::string first = folder + "/first.so", second = folder + "/second.so";
    for (const std::string& copy : {first, second})
        fs::copy_file(kLibrary, copy);
    ASSERT_EQ(VComponentManager::RegisterComponentLibrary(FilePath(first)), 0);
    void* loaded = ::dlopen(first.c_str(), RTLD_NOW | RTLD_NOLOAD);
    ASSERT_NE(loaded, nullptr);
    ::dlclose(loaded);
    ASSERT_EQ(VComponentManager::RegisterComponentLibrary(FilePath(second)), 0);
    EXPECT_EQ(::dlopen(first.c_str(), RTLD_NOW | RTLD_NOLOAD), nullptr);

    VComponentManager::DeInit();
    EXPECT_EQ(::dlopen(second.c_str(), RTLD_NOW | RTLD_NOLOAD), nullptr);
}

TEST_F(ComponentManager, RetainComponentWithAnyFamilyTakesTheFirstInstanceOfTheType)
{
    TestComponent one(kTypeA, 1, 1, {}), two(kTypeA, 2, 1, {});
    ASSERT_EQ(VComponentManager::RegisterComponentInstance(&one), 0);
    ASSERT_EQ(VComponentManager::RegisterComponentInstance(&two), 0);
    EXPECT_EQ(VComponentManager::RegisterComponentInstance(&two), QeltError(1002));
    EXPECT_EQ(VComponentManager::RegisterComponentInstance(nullptr), QeltError(3));
    CComponent* any = VComponentManager::RetainComponent(kTypeA, VComponentManager::kAnyFamily);
    CComponent* second = VComponentManager::RetainComponent(kTypeA, 2);
    EXPECT_EQ(any, &one);
    EXPECT_EQ(second, &two);
    any->Release();
    second->Release();
    EXPECT_EQ(VComponentManager::RetainComponent(kTypeA, 3), nullptr);  // no creator either
    EXPECT_EQ(VComponentManager::UnRegisterComponentInstance(&one), 0);
    EXPECT_EQ(VComponentManager::UnRegisterComponentInstance(&one), QeltError(1003));
    EXPECT_EQ(VComponentManager::UnRegisterComponentInstance(&two), 0);
}

// Types that require one another, or a version, or declare more than their
// record holds.
constexpr uint32_t kCycleA = FourCC("cyA_"), kCycleB = FourCC("cyB_"), kOld = FourCC("old_"),
                   kNeedsNew = FourCC("nnew"), kShort = FourCC("shrt");

CComponent* MakeCycleA(uint32_t inType, uint32_t inFamily)
{
    return new TestComponent(inType, inFamily, 5, {{kCycleB, 0xFFFFFFFF}});
}
CComponent* MakeCycleB(uint32_t inType, uint32_t inFamily)
{
    return new TestComponent(inType, inFamily, 5, {{kCycleA, 4}});
}
std::vector<TestComponent*> sMadeOld;
CComponent* MakeOld(uint32_t inType, uint32_t inFamily)
{
    sMadeOld.push_back(new TestComponent(inType, inFamily, 1, {}));
    return sMadeOld.back();
}
CComponent* MakeNeedsNew(uint32_t inType, uint32_t inFamily)
{
    return new TestComponent(inType, inFamily, 1, {{kOld, 2}});
}
CComponent* MakeShort(uint32_t inType, uint32_t inFamily)
{
    // Declares 1000 requirements in a record of room for one.
    return new TestComponent(inType, inFamily, 1, {{kOld, 0}}, 1000);
}

TEST_F(ComponentManager, RequirementsAreCheckedOnceAndCycleChecksEnd)
{
    for (auto [type, creator] : std::vector<std::pair<uint32_t, VComponentCreator>>{
             {kCycleA, &MakeCycleA}, {kCycleB, &MakeCycleB}, {kOld, &MakeOld}, {kNeedsNew, &MakeNeedsNew},
             {kShort, &MakeShort}})
        ASSERT_EQ(VComponentManager::RegisterComponentCreator(type, creator), 0);

    struct Case {
        uint32_t type;
        bool made;
    } cases[] = {{kCycleA, true}, {kCycleB, true}, {kNeedsNew, false}, {kShort, false}, {kOld, true}};
    for (int round = 0; round < 2; ++round) {  // the second round reads the cache
        for (const Case& c : cases) {
            SCOPED_TRACE(testing::Message() << std::hex << c.type << " round " << round);
            CComponent* component = VComponentManager::RetainUniqueComponent(c.type);
            EXPECT_EQ(component != nullptr, c.made);
            if (component != nullptr)
                component->Release();
        }
    }
    // Unmet requirements are cached; a reset with the flag set clears them.
    EXPECT_TRUE(VComponentManager::ResetComponentRequirements(kNeedsNew, true));
    EXPECT_FALSE(VComponentManager::ResetComponentRequirements(kNeedsNew, true));
    // A record too short for what it declares is never cached.
    EXPECT_FALSE(VComponentManager::ResetComponentRequirements(kShort, true));
}

TEST_F(ComponentManager, RequiredComponentsAreKeptOnlyWhenAllPass)
{
    ASSERT_EQ(VComponentManager::RegisterComponentCreator(kOld, &MakeOld), 0);
    TestComponent needs(kNeedsNew, 1, 1, {{kOld, 1}});
    sMadeOld.clear();
    EXPECT_TRUE(VComponentManager::CheckComponentRequirements(&needs, true));
    // The required component stays retained for good; the test gives it back.
    ASSERT_EQ(sMadeOld.size(), 1u);
    EXPECT_EQ(sMadeOld[0]->RefCount(), 1);
    sMadeOld[0]->Release();
    EXPECT_FALSE(VComponentManager::CheckComponentRequirements(nullptr, false));

    VArrayOf<CComponent*> family;
    EXPECT_FALSE(VComponentManager::RetainComponentsOfFamily(1, nullptr));
    EXPECT_TRUE(VComponentManager::RetainComponentsOfFamily(VComponentManager::kAnyFamily, &family));
    ASSERT_EQ(family.GetCount(), 1);
    EXPECT_EQ(family.GetNth(1)->GetComponentType(), kOld);
    VComponentManager::UnRegisterComponentInstance(family.GetNth(1));
    family.GetNth(1)->Release();
}

}  // namespace
}  // namespace qelt
