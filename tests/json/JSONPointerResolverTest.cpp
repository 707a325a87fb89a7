// "$ref" resolution: pointer walks over one document, the plain pointer entry
// the binary reader uses, recursive resolution across files, the file cache
// and the error records.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include "JSONTextTestSupport.h"

#include <string>
#include <vector>

#include "TestSupport.h"
#include "files/VFile.h"
#include "files/VFileSystemNamespace.h"
#include "files/VFolder.h"
#include "json/json.h"
#include "kernel/VString.h"
#include "runtime/VErrorBase.h"
#include "xml/VLocalizationManager.h"

namespace qelt {
namespace {

using test::Parse;
using test::ToStd;
using test::Write;

// The codes of the resolver's error records, in order.
std::vector<int> ErrorCodes(const VJSONPointerResolver& inResolver)
{
    std::vector<int> codes;
    if (const VJSONArray* errors = inResolver.GetErrors()) {
        for (size_t i = 0; i < errors->GetCount(); ++i)
            codes.push_back(static_cast<int>(errors->GetAt(i).GetProperty(VString("code")).GetNumber()));
    }
    return codes;
}

// A string property of the n-th error record.
std::string ErrorField(const VJSONPointerResolver& inResolver, size_t inIndex, const char* inName)
{
    const VJSONArray* errors = inResolver.GetErrors();
    if (errors == nullptr || inIndex >= errors->GetCount())
        return "<none>";
    VJSONValue field = errors->GetAt(inIndex).GetProperty(VString(inName));
    if (!field.IsString())
        return std::string("<").append(Write(field)).append(">");
    VString text;
    field.GetString(text);
    return ToStd(text);
}

// What the reference {"$ref": inURI} designates over the document.
VJSONValue ResolveRef(VJSONPointerResolver& ioResolver, const char* inURI, bool* outIsReference = nullptr)
{
    VRefPtr<VJSONObject> reference = AdoptRef(new VJSONObject());
    reference->SetProperty(VJSONPointerResolver::sRefPropertyName, VJSONValue(VString(inURI)));
    VJSONValue value;
    const bool isReference = ioResolver.ResolveOnePointer(reference.Get(), true, value);
    if (outIsReference != nullptr)
        *outIsReference = isReference;
    return value;
}

VRefPtr<VJSONPointerResolver> MakeResolver(const VJSONValue& inDocument)
{
    return AdoptRef(new VJSONPointerResolver(inDocument, nullptr, nullptr, nullptr));
}

TEST(JSONPointerResolver, PointersOverOneDocumentGiveTheValueOrTheirError)
{
    const VJSONValue document = Parse("{\"a\":{\"b\":[10,20]},\"x/y\":1,\"x~y\":2,\"~1\":3,\"\":4,\"u\":[5,null]}");
    struct Case {
        const char* uri;
        const char* expected;  // the value's text; null for the whole document
        int code;              // the error recorded, 0 for none
    };
    const Case cases[] = {
        {"#/a/b/1", "20", 0},
        {"#", nullptr, 0},  // the whole document
        {"#/a/b/0", "10", 0},
        {"#/a/b/2", "undefined", 906},
        {"#/a/b/-", "undefined", 909},
        {"#/a/b/01", "undefined", 907},
        {"#/a/b/", "undefined", 907},
        {"#/a/b/x", "undefined", 907},
        {"#/a/b/+1", "undefined", 907},
        {"#/a/b/99999999999999999999999", "undefined", 906},
        {"#/a/x", "undefined", 906},
        {"#/a/b/1/c", "undefined", 910},
        {"#a", "undefined", 907},
        {"#/x~1y", "1", 0},
        {"#/x~0y", "2", 0},
        {"#/~01", "3", 0},
        {"#/", "4", 0},
        {"#/u/1", "null", 0},
        {"#/a%2Fb", "[10,20]", 0},      // the fragment is decoded, then split
        {"#/x%7E1y", "1", 0},           // decoded, then unescaped
    };
    for (const Case& c : cases) {
        VRefPtr<VJSONPointerResolver> resolver = MakeResolver(document);
        bool isReference = false;
        VJSONValue value = ResolveRef(*resolver, c.uri, &isReference);
        EXPECT_TRUE(isReference) << c.uri;
        const std::string expected = c.expected != nullptr ? c.expected : Write(document);
        EXPECT_EQ(Write(value), expected) << c.uri;
        const std::vector<int> codes = ErrorCodes(*resolver);
        if (c.code == 0) {
            EXPECT_TRUE(codes.empty()) << c.uri;
        } else {
            EXPECT_EQ(codes, std::vector<int>{c.code}) << c.uri;
            EXPECT_EQ(ErrorField(*resolver, 0, "pointerURI"), c.uri);
            EXPECT_EQ(ErrorField(*resolver, 0, "component"), "qelt");
            EXPECT_NE(ErrorField(*resolver, 0, "message"), "");
            EXPECT_EQ(ErrorField(*resolver, 0, "referredPath"), "<undefined>");
        }
    }
}

TEST(JSONPointerResolver, AnObjectWithoutStringRefIsNoReference)
{
    VRefPtr<VJSONPointerResolver> resolver = MakeResolver(Parse("{\"a\":1}"));
    VRefPtr<VJSONObject> plain = AdoptRef(new VJSONObject());
    plain->SetProperty(VJSONPointerResolver::sRefPropertyName, VJSONValue(1.0));
    VJSONValue value;
    EXPECT_FALSE(resolver->ResolveOnePointer(plain.Get(), true, value));
    EXPECT_EQ(value.GetObject(), plain.Get());
    EXPECT_EQ(resolver->GetErrors(), nullptr);
}

// The binary reader walks its back references as plain pointers over the
// value being read: nothing is decoded, no "$ref" is followed.
TEST(JSONPointerResolver, PlainPointerWalkNeitherDecodesNorFollowsReferences)
{
    const VJSONValue document =
        Parse("{\"%41\":{\"r\":{\"$ref\":\"#/t\"}},\"A\":0,\"t\":{\"v\":7},\"a\":[{\"b\":1}],\"x/y\":{\"~\":2}}");
    VRefPtr<VJSONPointerResolver> resolver = MakeResolver(document);
    VJSONPointerResolver::Context context(false);
    context.fNested = false;
    struct Case {
        const char* pointer;
        const char* expected;  // null for the whole document
    };
    const Case cases[] = {
        {"", nullptr},
        {"/%41/r", "{\"$ref\":\"#/t\"}"},
        {"/a/0/b", "1"},
        {"/x~1y/~0", "2"},
        {"/%41/r/v", "undefined"},  // the reference is not followed
        {"/a/1", "undefined"},
        {"a", "undefined"},
    };
    for (const Case& c : cases) {
        VJSONValue value(JSON_null);
        const bool found = resolver->ResolvePointerString(context, VString(c.pointer), value);
        const std::string expected = c.expected != nullptr ? c.expected : Write(document);
        EXPECT_EQ(Write(value), expected) << c.pointer;
        EXPECT_EQ(found, !value.IsUndefined()) << c.pointer;
    }
    // The same containers, not copies.
    VJSONValue array;
    ASSERT_TRUE(resolver->ResolvePointerString(context, VString("/a"), array));
    EXPECT_EQ(array.GetArray(), document.GetProperty(VString("a")).GetArray());
    EXPECT_EQ(ErrorCodes(*resolver), (std::vector<int>{906, 906, 907}));
    EXPECT_EQ(ErrorField(*resolver, 1, "pointerURI"), "#/a/1");
}

VRefPtr<VFolder> FolderAt(const std::string& inPosix)
{
    return AdoptRef(new VFolder(VString((inPosix + "/").c_str()), FPS_POSIX));
}

// Resolves a copy of the document recursively and hands back the copy.
VJSONValue ResolveAll(VJSONPointerResolver& ioResolver, bool inPatch,
                      std::vector<VRefPtr<IFile>>* outFiles = nullptr)
{
    VJSONValue value(ioResolver.GetDocument());
    ioResolver.ResolveRecursively(value, inPatch, outFiles);
    return value;
}

TEST(JSONPointerResolver, AMemberReferringToItsDocumentResolvesWithoutLooping)
{
    for (bool patch : {false, true}) {
        const VJSONValue document = Parse("{\"self\":{\"$ref\":\"#\"},\"list\":[{\"$ref\":\"#/list\"},1]}");
        VRefPtr<VJSONPointerResolver> resolver = MakeResolver(document);
        VJSONValue value = ResolveAll(*resolver, patch);
        EXPECT_EQ(value.GetProperty(VString("self")).GetObject(), document.GetObject()) << patch;
        VJSONValue list = value.GetProperty(VString("list"));
        ASSERT_TRUE(list.IsArray());
        EXPECT_EQ(list.GetArray()->GetAt(0).GetArray(), list.GetArray()) << patch;
        EXPECT_EQ(resolver->GetErrors(), nullptr) << patch;
    }
}

TEST(JSONPointerResolver, PatchingMergesTheReferenceMembersOverAnObjectTarget)
{
    const char* text = "{\"t\":{\"a\":1,\"extra\":0},\"r\":{\"$ref\":\"#/t\",\"extra\":1,\"b\":2},"
                       "\"n\":{\"$ref\":\"#/t/a\",\"extra\":1},\"plain\":{\"$ref\":\"#/t\"}}";
    {
        VRefPtr<VJSONPointerResolver> resolver = MakeResolver(Parse(text));
        VJSONValue value = ResolveAll(*resolver, true);
        EXPECT_EQ(Write(value.GetProperty(VString("r"))), "{\"a\":1,\"extra\":1,\"b\":2}");
        EXPECT_EQ(Write(value.GetProperty(VString("n"))), "1");  // no object to merge into
        // A reference with nothing of its own is the target itself; the
        // target is left as it was.
        EXPECT_EQ(value.GetProperty(VString("plain")).GetObject(), value.GetProperty(VString("t")).GetObject());
        EXPECT_EQ(Write(value.GetProperty(VString("t"))), "{\"a\":1,\"extra\":0}");
    }
    {
        VRefPtr<VJSONPointerResolver> resolver = MakeResolver(Parse(text));
        VJSONValue value = ResolveAll(*resolver, false);
        EXPECT_EQ(value.GetProperty(VString("r")).GetObject(), value.GetProperty(VString("t")).GetObject());
    }
}

TEST(JSONPointerResolver, ChainsOfReferencesEndAtAValueAndCyclesAreRecorded)
{
    // Met before its target is resolved, "a" still ends at the value.
    VRefPtr<VJSONPointerResolver> chain = MakeResolver(
        Parse("{\"a\":{\"$ref\":\"#/b\"},\"b\":{\"$ref\":\"#/c\"},\"c\":{\"v\":1},\"d\":{\"$ref\":\"#/b/v\"}}"));
    VJSONValue value = ResolveAll(*chain, true);
    EXPECT_EQ(Write(value), "{\"a\":{\"v\":1},\"b\":{\"v\":1},\"c\":{\"v\":1},\"d\":1}");
    EXPECT_EQ(chain->GetErrors(), nullptr);

    // A container a pointer passes through is still walked at its own place.
    VRefPtr<VJSONPointerResolver> through =
        MakeResolver(Parse("{\"a\":{\"$ref\":\"#/b/c\"},\"b\":{\"c\":1,\"d\":{\"$ref\":\"#/e\"}},\"e\":2}"));
    EXPECT_EQ(Write(ResolveAll(*through, false)), "{\"a\":1,\"b\":{\"c\":1,\"d\":2},\"e\":2}");

    // A cycle is recorded and its references stay as they were.
    VRefPtr<VJSONPointerResolver> cycle =
        MakeResolver(Parse("{\"a\":{\"$ref\":\"#/b\"},\"b\":{\"$ref\":\"#/a\"},\"c\":{\"$ref\":\"#/a/x\"},\"k\":2}"));
    value = ResolveAll(*cycle, true);
    EXPECT_EQ(Write(value), "{\"a\":{\"$ref\":\"#/b\"},\"b\":{\"$ref\":\"#/a\"},\"c\":{\"$ref\":\"#/a/x\"},\"k\":2}");
    const std::vector<int> codes = ErrorCodes(*cycle);
    ASSERT_FALSE(codes.empty());
    for (int code : codes)
        EXPECT_EQ(code, 908);

    // One reference resolved on its own meets the cycle too.
    EXPECT_TRUE(ResolveRef(*cycle, "#/a").IsUndefined());
}

// The prefix followed by the number.
std::string Numbered(const char* inPrefix, int inNumber)
{
    std::string text(inPrefix);
    text.append(std::to_string(inNumber));
    return text;
}

TEST(JSONPointerResolver, DeepNestingIsRecordedInsteadOfOverflowingTheStack)
{
    // A chain of references longer than the limit, walked from its start.
    const int kCount = 3 * VJSONPointerResolver::kMaxDepth;
    VRefPtr<VJSONObject> root = AdoptRef(new VJSONObject());
    for (int i = 0; i < kCount; ++i) {
        VRefPtr<VJSONObject> reference = AdoptRef(new VJSONObject());
        reference->SetProperty(VJSONPointerResolver::sRefPropertyName, VJSONValue(VString(Numbered("#/r", i + 1).c_str())));
        root->SetProperty(VString(Numbered("r", i).c_str()), VJSONValue(reference.Get()));
    }
    root->SetProperty(VString(Numbered("r", kCount).c_str()), VJSONValue(1.0));
    VRefPtr<VJSONPointerResolver> resolver = MakeResolver(VJSONValue(root.Get()));
    EXPECT_TRUE(ResolveRef(*resolver, "#/r0").IsUndefined());
    std::vector<int> codes = ErrorCodes(*resolver);
    ASSERT_FALSE(codes.empty());
    EXPECT_EQ(codes.front(), 108);
    // Near the end, the same chain is short enough.
    const std::string nearEnd = Numbered("#/r", kCount - 10);
    EXPECT_EQ(Write(ResolveRef(*resolver, nearEnd.c_str())), "1");

    // Arrays nested deeper than the limit.
    VJSONValue deep(JSON_array);
    VJSONValue inner = deep;
    for (int i = 0; i < kCount; ++i) {
        VJSONValue next(JSON_array);
        inner.GetArray()->Push(next);
        inner = next;
    }
    VRefPtr<VJSONPointerResolver> arrays = MakeResolver(deep);
    ResolveAll(*arrays, true);
    EXPECT_EQ(ErrorCodes(*arrays), std::vector<int>{108});
}

TEST(JSONPointerResolver, ReferencesThatMultiplyTheWorkStopAtTheBudget)
{
    // Two references with members of their own to their enclosing object:
    // each merged copy holds both references again, which doubles the copies
    // at every level.
    {
        VRefPtr<VJSONPointerResolver> resolver =
            MakeResolver(Parse("{\"t\":{\"a\":{\"$ref\":\"#/t\",\"x\":1},\"b\":{\"$ref\":\"#/t\",\"x\":1}}}"));
        ResolveAll(*resolver, true);
        // Each copy nests one level deeper: the depth limit is met once on
        // the way, then the budget ends the job.
        EXPECT_EQ(ErrorCodes(*resolver), (std::vector<int>{108, 100}));
        EXPECT_EQ(ErrorField(*resolver, 1, "pointerURI"), "#/t");
    }
    // A pointer that passes twice through the reference before it: each
    // reference costs twice the one it names.
    std::string text = "{\"r0\":{\"$ref\":\"#\"}";
    const int kLevels = 60;
    for (int i = 1; i <= kLevels; ++i) {
        const std::string previous = Numbered("r", i - 1);
        text += ",\"" + Numbered("r", i) + "\":{\"$ref\":\"#/" + previous + "/" + previous + "\"}";
    }
    text += "}";
    VRefPtr<VJSONPointerResolver> resolver = MakeResolver(Parse(text.c_str()));
    const std::string top = Numbered("#/r", kLevels);
    EXPECT_TRUE(ResolveRef(*resolver, top.c_str()).IsUndefined());
    EXPECT_EQ(ErrorCodes(*resolver), std::vector<int>{100});
}

TEST(JSONPointerResolver, ALargeDocumentOfReferencesResolvesWithinTheBudget)
{
    // Many references, each merged with members of its own: the work grows
    // with the document and stays within the budget.
    const int kCount = 5000;
    std::string text = "{\"target\":{\"a\":1,\"b\":2,\"c\":3},\"list\":[";
    for (int i = 0; i < kCount; ++i)
        text += (i == 0 ? "" : ",") + std::string("{\"$ref\":\"#/target\",\"n\":") + std::to_string(i) + "}";
    text += "]}";
    VRefPtr<VJSONPointerResolver> resolver = MakeResolver(Parse(text.c_str()));
    const VJSONValue resolved = ResolveAll(*resolver, true);
    EXPECT_TRUE(ErrorCodes(*resolver).empty());
    const VJSONArray* list = resolved.GetProperty(VString("list")).GetArray();
    ASSERT_NE(list, nullptr);
    ASSERT_EQ(list->GetCount(), static_cast<size_t>(kCount));
    EXPECT_EQ(Write(list->GetAt(kCount - 1)), "{\"a\":1,\"b\":2,\"c\":3,\"n\":4999}");
}

TEST(JSONPointerResolver, MergedCopiesCountEveryMemberTheyMake)
{
    // A few hundred references, each merging a target of a thousand members
    // with one of its own: few references, but each copy makes a thousand
    // values, and together they pass the budget.
    std::string text = "{\"target\":{";
    for (int i = 0; i < 1000; ++i) {
        text += i == 0 ? "\"m" : ",\"m";
        text += std::to_string(i);
        text += "\":1";
    }
    text += "},\"list\":[";
    for (int i = 0; i < 200; ++i) {
        text += i == 0 ? "" : ",";
        text += "{\"$ref\":\"#/target\",\"n\":1}";
    }
    text += "]}";
    VRefPtr<VJSONPointerResolver> resolver = MakeResolver(Parse(text.c_str()));
    ResolveAll(*resolver, true);
    EXPECT_EQ(ErrorCodes(*resolver), std::vector<int>{100});
}

// A folder of documents that refer to one another.
class JSONPointerResolverFiles : public ::testing::Test {
protected:
    void SetUp() override
    {
        fRoot = test::MakeTempFolder("resolver");
        ::mkdir((fRoot + "/sub").c_str(), 0755);
        test::WriteText(fRoot + "/other.json",
                        "{\"defs\":{\"a\":{\"v\":1},\"when\":\"2024-02-29\"},\"local\":{\"$ref\":\"#/defs/a\"},"
                        "\"broken\":{\"$ref\":\"nothing.json\"}}");
        test::WriteText(fRoot + "/sub/deep.json", "{\"k\":{\"$ref\":\"../other.json#/defs\"},\"me\":{\"$ref\":\"#/n\"},\"n\":5}");
        test::WriteText(fRoot + "/bad.json", "{\"a\":1,");
        test::WriteText(fRoot + "/a.json", "{\"v\":\"lower\"}");
        test::WriteText(fRoot + "/A.json", "{\"v\":\"upper\"}");
        fFolder = FolderAt(fRoot);
    }

    std::string fRoot;
    VRefPtr<VFolder> fFolder;
};

TEST_F(JSONPointerResolverFiles, ReferencesReachOtherDocumentsRelativeToTheirOwnFolder)
{
    const VJSONValue document = Parse("{\"x\":{\"$ref\":\"other.json#/defs/a\"},\"y\":{\"$ref\":\"other.json#/local\"},"
                                      "\"z\":{\"$ref\":\"sub/deep.json\"},\"d\":{\"$ref\":\" other.json#/defs/when\"}}");
    VRefPtr<VJSONPointerResolver> resolver =
        AdoptRef(new VJSONPointerResolver(document, fFolder.Get(), nullptr, nullptr));
    std::vector<VRefPtr<IFile>> files;
    VJSONValue value = ResolveAll(*resolver, true, &files);
    EXPECT_EQ(Write(value), "{\"x\":{\"v\":1},\"y\":{\"v\":1},\"z\":{\"k\":{\"a\":{\"v\":1},"
                            "\"when\":\"2024-02-29T00:00:00.000Z\"},\"me\":5,\"n\":5},\"d\":\"2024-02-29T00:00:00.000Z\"}");
    EXPECT_TRUE(value.GetProperty(VString("d")).IsDate());
    EXPECT_EQ(resolver->GetErrors(), nullptr);
    std::vector<std::string> paths;
    for (const VRefPtr<IFile>& file : files) {
        VString path;
        file->GetPlatformPath(path, FPS_POSIX);
        paths.push_back(ToStd(path));
    }
    EXPECT_EQ(paths, (std::vector<std::string>{fRoot + "/other.json", fRoot + "/sub/deep.json"}));

    // A failure inside another document is recorded with the resolver the
    // caller holds.
    EXPECT_TRUE(ResolveRef(*resolver, "other.json#/broken").IsUndefined());
    EXPECT_EQ(ErrorCodes(*resolver), std::vector<int>{913});
    EXPECT_EQ(ErrorField(*resolver, 0, "referredPath"), fRoot + "/nothing.json");
}

TEST_F(JSONPointerResolverFiles, DocumentsAreFoundThroughANamespace)
{
    VRefPtr<VFileSystemNamespace> space = AdoptRef(new VFileSystemNamespace(nullptr));
    ASSERT_EQ(space->RegisterFileSystem(VString("DOCS"), fFolder.Get(), 0), VE_OK);
    const VJSONValue document = Parse("{\"x\":{\"$ref\":\"/DOCS/other.json#/defs/a/v\"},"
                                      "\"y\":{\"$ref\":\"/NONE/other.json#/defs\"}}");
    VRefPtr<VJSONPointerResolver> resolver = AdoptRef(new VJSONPointerResolver(document, nullptr, space.Get(), nullptr));
    VJSONValue value = ResolveAll(*resolver, false);
    EXPECT_EQ(Write(value.GetProperty(VString("x"))), "1");
    EXPECT_EQ(ErrorCodes(*resolver), std::vector<int>{913});
    EXPECT_EQ(ErrorField(*resolver, 0, "referredPath"), "/NONE/other.json");
}

TEST_F(JSONPointerResolverFiles, DocumentsThatCannotBeReadAreRecorded)
{
    struct Case {
        const char* uri;
        bool withFolder;
        int code;
        std::string referredPath;  // "<undefined>" when the record has none
    };
    const Case cases[] = {
        {"other.json#/defs", false, 913, "other.json"},
        {"/etc/hostname.json", true, 913, "/etc/hostname.json"},
        {"missing.json#/a", true, 913, fRoot + "/missing.json"},
        {"bad.json#/a", true, 912, fRoot + "/bad.json"},
        {"http://example.com/a.json#/a", true, 909, "<undefined>"},
        {"https:other.json", true, 909, "<undefined>"},
        {"file:///etc/passwd", true, 909, "<undefined>"},
        {"other.json#/defs/none", true, 906, "<undefined>"},
    };
    for (const Case& c : cases) {
        VRefPtr<VJSONPointerResolver> resolver = AdoptRef(
            new VJSONPointerResolver(Parse("{}"), c.withFolder ? fFolder.Get() : nullptr, nullptr, nullptr));
        EXPECT_TRUE(ResolveRef(*resolver, c.uri).IsUndefined()) << c.uri;
        EXPECT_EQ(ErrorCodes(*resolver), std::vector<int>{c.code}) << c.uri;
        EXPECT_EQ(ErrorField(*resolver, 0, "pointerURI"), c.uri);
        EXPECT_EQ(ErrorField(*resolver, 0, "referredPath"), c.referredPath) << c.uri;
    }
}

TEST_F(JSONPointerResolverFiles, TheCacheTellsPathsApartExactlyAndServesLaterResolvers)
{
    VRefPtr<VJSONFileCache> cache = AdoptRef(new VJSONFileCache);
    const VJSONValue document = Parse("{\"l\":{\"$ref\":\"a.json#/v\"},\"u\":{\"$ref\":\"A.json#/v\"}}");
    VRefPtr<VJSONPointerResolver> first =
        AdoptRef(new VJSONPointerResolver(document, fFolder.Get(), nullptr, cache.Get()));
    EXPECT_EQ(Write(ResolveAll(*first, false)), "{\"l\":\"lower\",\"u\":\"upper\"}");

    // Once read, a document comes from the cache.
    test::WriteText(fRoot + "/a.json", "{\"v\":\"changed\"}");
    VRefPtr<VJSONPointerResolver> second =
        AdoptRef(new VJSONPointerResolver(document, fFolder.Get(), nullptr, cache.Get()));
    EXPECT_EQ(Write(ResolveAll(*second, false)), "{\"l\":\"lower\",\"u\":\"upper\"}");

    const VFilePath lower(VString((fRoot + "/a.json").c_str()), FPS_POSIX);
    const VFilePath upper(VString((fRoot + "/A.json").c_str()), FPS_POSIX);
    const VFilePath other(VString((fRoot + "/other.json").c_str()), FPS_POSIX);
    EXPECT_EQ(Write(cache->GetValue(lower)), "{\"v\":\"lower\"}");
    EXPECT_EQ(Write(cache->GetValue(upper)), "{\"v\":\"upper\"}");
    EXPECT_TRUE(cache->GetValue(other).IsUndefined());
    cache->SetValue(lower, VJSONValue());
    EXPECT_TRUE(cache->GetValue(lower).IsUndefined());
    EXPECT_FALSE(cache->GetValue(upper).IsUndefined());
}

TEST_F(JSONPointerResolverFiles, RecordMessagesComeFromTheLocalisationFile)
{
    const std::string xliff = std::string(QELT_TEST_DATA) + "/../../updater/bundle/en.lproj/Updater.xlf";
    VRefPtr<VLocalizationManager> manager = AdoptRef(new VLocalizationManager(1033));
    VRefPtr<VFile> file = AdoptRef(new VFile(VFilePath(VString(xliff.c_str()), FPS_POSIX)));
    ASSERT_EQ(manager->LoadFile(file.Get(), true), VE_OK);
    ILocalizer* previous = VErrorBase::GetLocalizer(kSignatureQelt);
    VErrorBase::RegisterLocalizer(kSignatureQelt, manager.Get());
    VRefPtr<VJSONPointerResolver> resolver =
        AdoptRef(new VJSONPointerResolver(Parse("{}"), fFolder.Get(), nullptr, nullptr));
    ResolveRef(*resolver, "missing.json#/a");
    ResolveRef(*resolver, "#/a");
    if (previous != nullptr)
        VErrorBase::RegisterLocalizer(kSignatureQelt, previous);
    else
        VErrorBase::UnregisterLocalizer(kSignatureQelt);
    EXPECT_EQ(ErrorField(*resolver, 0, "message"),
              "The document " + fRoot + "/missing.json referred to by missing.json#/a cannot be found.");
    EXPECT_EQ(ErrorField(*resolver, 1, "message"), "The JSON pointer #/a designates no value.");
}

}  // namespace
}  // namespace qelt
