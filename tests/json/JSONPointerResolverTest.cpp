// "$ref" resolution: pointer walks over one document, the plain pointer entry
// the binary reader uses, recursive resolution across files, the file cache
// and the error records.
#include <gtest/gtest.h>

#include "JSONTextTestSupport.h"

#include <string>
#include <vector>

#include "json/json.h"
#include "kernel/VString.h"

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
        return "<" + Write(field) + ">";
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

}  // namespace
}  // namespace qelt
