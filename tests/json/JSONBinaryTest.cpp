#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "json/json.h"
#include "kernel/VCppMemMgr.h"
#include "kernel/VString.h"
#include "process/VProcess.h"
#include "runtime/VErrorContext.h"
#include "values/VBagArray.h"
#include "values/VValueBag.h"

namespace qelt {
namespace {

using Bytes = std::vector<uint8_t>;

std::string Hex(const uint8_t* inBytes, size_t inCount)
{
    std::string out;
    char piece[4];
    for (size_t i = 0; i < inCount; ++i) {
        std::snprintf(piece, sizeof(piece), i == 0 ? "%02X" : " %02X", inBytes[i]);
        out += piece;
    }
    return out;
}

std::string Hex(const Bytes& inBytes) { return Hex(inBytes.data(), inBytes.size()); }

// "05 FF FF" into its bytes.
Bytes FromHex(const char* inText)
{
    Bytes out;
    unsigned int byte = 0;
    int consumed = 0;
    while (std::sscanf(inText, " %2x%n", &byte, &consumed) == 1) {
        out.push_back(static_cast<uint8_t>(byte));
        inText += consumed;
    }
    return out;
}

// UTF-16 units of an ASCII text, as they are written.
Bytes Units(const char* inText)
{
    Bytes out;
    for (const char* p = inText; *p != 0; ++p) {
        out.push_back(static_cast<uint8_t>(*p));
        out.push_back(0);
    }
    return out;
}

Bytes Join(std::initializer_list<Bytes> inPieces)
{
    Bytes out;
    for (const Bytes& piece : inPieces)
        out.insert(out.end(), piece.begin(), piece.end());
    return out;
}

struct Written {
    VError error = VE_OK;
    Bytes bytes;
};

Written Write(const VJSONValue& inValue)
{
    StErrorContextInstaller errors(false);
    VJSONBinaryWriter writer;
    VJSONBinaryBuffer buffer;
    Written out;
    out.error = writer.StreamValue(inValue, buffer);
    const uint8_t* data = static_cast<const uint8_t*>(buffer.GetDataPtr());
    out.bytes.assign(data, data + buffer.GetDataSize());
    return out;
}

// The value's bytes, which must write without error.
Bytes Encode(const VJSONValue& inValue)
{
    Written written = Write(inValue);
    EXPECT_EQ(written.error, VE_OK);
    return written.bytes;
}

VError Read(const Bytes& inBytes, VJSONValue& outValue)
{
    StErrorContextInstaller errors(false);
    VJSONBinaryImporter importer(inBytes.data(), inBytes.size());
    VError error = importer.GetValue(outValue);
    // The error returned is the one raised.
    EXPECT_EQ(error, errors.GetLastError()) << Hex(inBytes);
    return error;
}

VJSONValue Decode(const Bytes& inBytes)
{
    VJSONValue value(JSON_undefined);
    EXPECT_EQ(Read(inBytes, value), VE_OK) << Hex(inBytes);
    return value;
}

std::string Text(const VJSONValue& inValue)
{
    VString text;
    if (inValue.IsUndefined())
        return "undefined";
    EXPECT_EQ(inValue.Stringify(text, kJSONWriteQuoted), VE_OK);
    std::string out;
    for (int i = 0; i < text.GetLength(); ++i)
        out.push_back(static_cast<char>(text.GetCPointer()[i]));
    return out;
}

VJSONValue Parse(const char* inText)
{
    VJSONValue value(JSON_undefined);
    EXPECT_EQ(VJSONImporter::ParseString(VString(inText), value, 0), VE_OK) << inText;
    return value;
}

VJSONValue Date(short inYear, short inMonth, short inDay)
{
    VJSONValue value(JSON_undefined);
    value.SetDate(inYear, inMonth, inDay);
    return value;
}

VJSONValue NestedArrays(int inDepth)
{
    VJSONValue value(JSON_array);
    for (int i = 1; i < inDepth; ++i) {
        VJSONValue outer(JSON_array);
        outer.GetArray()->Push(value);
        value = outer;
    }
    return value;
}

VJSONValue NestedObjects(int inDepth)
{
    VJSONValue value(JSON_object);
    for (int i = 1; i < inDepth; ++i) {
        VJSONValue outer(JSON_object);
        outer.SetProperty(VString("o"), value);
        value = outer;
    }
    return value;
}

// ---------------------------------------------------------------------------
// Byte layout

TEST(JSONBinary, EachKindOfValueHasItsExactBytesAndReadsBackTheSame)
{
    struct Case {
        const char* what;
        VJSONValue value;
        const char* bytes;
    };
    const Case cases[] = {
        {"null", VJSONValue(JSON_null), "00"},
        {"false", VJSONValue(JSON_false), "01"},
        {"true", VJSONValue(JSON_true), "02"},
        {"undefined", VJSONValue(JSON_undefined), "07"},
        {"empty string", VJSONValue(VString("")), "03 00 00 00 00"},
        {"string", VJSONValue(VString("ab")), "03 02 00 00 00 61 00 62 00"},
        {"one", VJSONValue(1.0), "04 00 00 00 00 00 00 F0 3F"},
        {"minus two", VJSONValue(-2.0), "04 00 00 00 00 00 00 00 C0"},
        {"empty object", VJSONValue(JSON_object), "05 FF FF"},
        {"empty array", VJSONValue(JSON_array), "06 00 00 00 00"},
        {"date", Date(2024, 2, 29), "08 00 1C E9 2D 56 C1 00 00"},
        {"object", Parse("{\"a\":true,\"b\":[null]}"),
         "05 01 00 61 00 02 01 00 62 00 06 01 00 00 00 00 FF FF"},
    };
    for (const Case& c : cases) {
        const Bytes bytes = Encode(c.value);
        EXPECT_EQ(Hex(bytes), c.bytes) << c.what;
        VJSONValue back = Decode(bytes);
        EXPECT_EQ(back.GetType(), c.value.GetType()) << c.what;
        EXPECT_EQ(Text(back), Text(c.value)) << c.what;
        EXPECT_EQ(Hex(Encode(back)), c.bytes) << c.what;
    }
    short year = 0, month = 0, day = 0;
    EXPECT_TRUE(Decode(FromHex("08 00 1C E9 2D 56 C1 00 00")).GetDate(&year, &month, &day));
    EXPECT_EQ(year * 10000 + month * 100 + day, 20240229);
}

TEST(JSONBinary, NoDataReadsAsUndefined)
{
    VJSONValue value(1.0);
    EXPECT_EQ(Read(Bytes(), value), VE_OK);
    EXPECT_TRUE(value.IsUndefined());
}

TEST(JSONBinary, AValueOfMixedKindsRoundTripsWithItsMemberOrder)
{
    VJSONValue value = Parse("{\"z\":1.5,\"a\":[\"x\",{\"k\":null},[]],\"m\":{},\"\":\"empty name\"}");
    value.SetProperty(VString("d"), Date(1999, 12, 31));
    value.SetProperty(VString("u"), VJSONValue(JSON_undefined));
    const Bytes bytes = Encode(value);
    VJSONValue back = Decode(bytes);
    EXPECT_EQ(Text(back), Text(value));
    EXPECT_TRUE(back.GetProperty(VString("d")).IsDate());
    EXPECT_EQ(Hex(Encode(back)), Hex(bytes));
}

// ---------------------------------------------------------------------------
// Back references

TEST(JSONBinary, AnObjectHoldingItselfIsWrittenAsAReferenceAndReadBackAsTheSameCycle)
{
    VJSONValue me(JSON_object);
    me.SetProperty(VString("me"), me);
    const Bytes bytes = Encode(me);
    EXPECT_EQ(Hex(bytes), "05 02 00 6D 00 65 00 FF 01 00 00 00 23 00 FF FF");

    VJSONValue back = Decode(bytes);
    ASSERT_TRUE(back.IsObject());
    EXPECT_EQ(back.GetProperty(VString("me")).GetObject(), back.GetObject());
    EXPECT_EQ(Hex(Encode(back)), Hex(bytes));
}

TEST(JSONBinary, AContainerMetAgainIsWrittenAsThePointerToItsFirstPlace)
{
    struct Case {
        const char* name;     // the member under which the container is first met
        const char* pointer;  // how the second place refers to it
    };
    const Case cases[] = {
        {"a", "#/a"},
        {"x~y/z", "#/x~0y~1z"},
        {"~1", "#/~01"},
        {"%41", "#/%41"},  // no URL decoding on the way back
        {"", "#/"},
    };
    for (const Case& c : cases) {
        VJSONValue shared(JSON_array);
        shared.GetArray()->Push(VJSONValue(1.0));
        VJSONValue holder(JSON_object);
        holder.SetProperty(VString(c.name), shared);
        holder.SetProperty(VString("b"), shared);
        const Bytes bytes = Encode(holder);

        const size_t length = std::strlen(c.pointer);
        const Bytes reference = Join({FromHex("FF"), {static_cast<uint8_t>(length), 0, 0, 0}, Units(c.pointer)});
        const Bytes tail = Join({Units("b"), reference, FromHex("FF FF")});
        ASSERT_GE(bytes.size(), tail.size()) << c.name;
        EXPECT_EQ(Hex(bytes.data() + bytes.size() - tail.size(), tail.size()), Hex(tail)) << c.name;

        VJSONValue back = Decode(bytes);
        VJSONArray* first = back.GetProperty(VString(c.name)).GetArray();
        ASSERT_NE(first, nullptr) << c.name;
        EXPECT_EQ(back.GetProperty(VString("b")).GetArray(), first) << c.name;
        EXPECT_EQ(first->GetCount(), 1u) << c.name;
    }
}

TEST(JSONBinary, ElementsAreReferredToByTheirDecimalIndex)
{
    VJSONValue inner = Parse("{\"k\":1}");
    VJSONValue list(JSON_array);
    for (int i = 0; i < 11; ++i)
        list.GetArray()->Push(VJSONValue(static_cast<double>(i)));
    list.GetArray()->SetAt(10, inner);
    VJSONValue outer(JSON_array);
    outer.GetArray()->Push(list);
    outer.GetArray()->Push(inner);
    const Bytes bytes = Encode(outer);
    const Bytes tail = Join({FromHex("FF 06 00 00 00"), Units("#/0/10")});
    EXPECT_EQ(Hex(bytes.data() + bytes.size() - tail.size(), tail.size()), Hex(tail));

    VJSONValue back = Decode(bytes);
    VJSONObject* first = back.GetArray()->GetAt(0).GetArray()->GetAt(10).GetObject();
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(back.GetArray()->GetAt(1).GetObject(), first);
}

TEST(JSONBinary, AReferenceThatLeadsNowhereLeavesTheValueUndefined)
{
    // {"a": [7], "r": <reference>}: only a plain pointer into the value being
    // read leads anywhere.
    struct Case {
        const char* pointer;
        bool found;
    };
    const Case cases[] = {
        {"#/a", true},       {"#/a/0", true},     {"#", true},          {"#/b", false},   {"#/a/1", false},
        {"#/a/01", false},   {"#/a/-", false},    {"#/a/0/c", false},   {"#a", false},    {"/a", false},
        {"#/%61", false},    {"x.json#/a", false}, {"", false},         {"#/a/", false},
    };
    for (const Case& c : cases) {
        const size_t length = std::strlen(c.pointer);
        const Bytes bytes = Join({FromHex("05 01 00"), Units("a"), FromHex("06 01 00 00 00 04 00 00 00 00 00 00 1C 40"),
                                  FromHex("01 00"), Units("r"), FromHex("FF"),
                                  {static_cast<uint8_t>(length), 0, 0, 0}, Units(c.pointer), FromHex("FF FF")});
        VJSONValue back = Decode(bytes);
        ASSERT_TRUE(back.IsObject()) << c.pointer;
        EXPECT_EQ(!back.GetProperty(VString("r")).IsUndefined(), c.found) << c.pointer;
    }
    // A reference as the very first value has nothing to refer to.
    EXPECT_TRUE(Decode(Join({FromHex("FF 01 00 00 00"), Units("#")})).IsUndefined());
}

TEST(JSONBinary, ValuesWrittenByOneWriterReferToEachOtherAndOneImporterResolvesThem)
{
    VJSONValue shared = Parse("[1,2]");
    VJSONBinaryWriter writer;
    VJSONBinaryBuffer buffer;
    ASSERT_EQ(writer.StreamValue(shared, buffer), VE_OK);
    ASSERT_EQ(writer.StreamValue(shared, buffer), VE_OK);
    const uint8_t* data = static_cast<const uint8_t*>(buffer.GetDataPtr());
    const Bytes bytes(data, data + buffer.GetDataSize());
    EXPECT_EQ(Hex(bytes), Hex(Join({FromHex("06 02 00 00 00 04 00 00 00 00 00 00 F0 3F 04 00 00 00 00 00 00 00 40"),
                                    FromHex("FF 01 00 00 00"), Units("#")})));

    // A value that fails leaves nothing to refer to: the array it held is
    // written again in full by the next value.
    VJSONValue fresh = Parse("[3]");
    VJSONValue failing(JSON_array);
    failing.GetArray()->Push(fresh);
    failing.GetArray()->Push(NestedArrays(kJSONBinaryMaxDepth));
    {
        VJSONBinaryWriter other;
        VJSONBinaryBuffer scratch;
        StErrorContextInstaller errors(false);
        EXPECT_EQ(other.StreamValue(failing, scratch), QeltError(108));
        EXPECT_EQ(scratch.GetDataSize(), 0u);
        ASSERT_EQ(other.StreamValue(fresh, scratch), VE_OK);
        EXPECT_EQ(static_cast<const uint8_t*>(scratch.GetDataPtr())[0], kJSONBinaryArray);
    }

    VJSONBinaryImporter importer(bytes.data(), bytes.size());
    VJSONValue first, second;
    ASSERT_EQ(importer.GetValue(first), VE_OK);
    ASSERT_EQ(importer.GetValue(second), VE_OK);
    ASSERT_TRUE(first.IsArray());
    EXPECT_EQ(second.GetArray(), first.GetArray());
}

TEST(JSONBinary, PathPointersEscapeTildesBeforeSlashes)
{
    using Part = VJSONBinaryWriter::PathPart;
    const VString a("a/b"), tilde("~/~1");
    const Part top{nullptr, nullptr, 0};
    const Part member{&top, &a, 0};
    const Part element{&member, nullptr, 1};
    const Part odd{&element, &tilde, 0};
    struct Case {
        const Part* step;
        const char* pointer;
    };
    const Case cases[] = {{&top, "#"}, {&member, "#/a~1b"}, {&element, "#/a~1b/1"}, {&odd, "#/a~1b/1/~0~1~01"}};
    for (const Case& c : cases) {
        VString path;
        VJSONBinaryWriter::BuildPathPointerString(c.step, path);
        EXPECT_TRUE(path.EqualToStringRaw(VString(c.pointer))) << c.pointer;
    }
}

// ---------------------------------------------------------------------------
// Classes and implementations

TEST(JSONBinary, AnObjectOfANamedClassEndsWithAClassRecordAndGetsItsClassBack)
{
    VJSONClassStore* root = VProcess::sInstance->GetClassStore();
    VRefPtr<VJSONObject> object = AdoptRef(new VJSONObject(root->GetFunctionClassObject()));
    object->SetProperty(VString("n"), VJSONValue(2.0));
    const Bytes bytes = Encode(VJSONValue(object.Get()));
    const Bytes tail = Join({FromHex("FD FF 2A 2A 2A 2A 18 00 00 00 00 00 00 00 02 00"), Units("vq"),
                             FromHex("08 00"), Units("Function")});
    EXPECT_EQ(Hex(bytes.data() + bytes.size() - tail.size(), tail.size()), Hex(tail));

    VJSONValue back = Decode(bytes);
    ASSERT_TRUE(back.IsObject());
    EXPECT_EQ(back.GetObject()->_GetClass(), VJSONClass::FromClassObject(root->GetFunctionClassObject()));
    EXPECT_EQ(back.GetObject()->GetConstructionLevel(), 1);
    EXPECT_FALSE(back.GetObject()->IsUnderConstruction());
    EXPECT_EQ(back.GetProperty(VString("n")).GetNumber(), 2.0);

    // A class the process does not know leaves the object plain.
    VRefPtr<VJSONObject> elsewhere =
        AdoptRef(VJSONClass::Create(VString("Elsewhere"), nullptr, nullptr, VString("other"), 0));
    VRefPtr<VJSONObject> stranger = AdoptRef(new VJSONObject(elsewhere.Get()));
    VJSONValue plain = Decode(Encode(VJSONValue(stranger.Get())));
    ASSERT_TRUE(plain.IsObject());
    EXPECT_EQ(plain.GetObject()->_GetClass(), VJSONClass::FromClassObject(root->GetObjectClassObject()));
    EXPECT_EQ(Hex(Encode(plain)), "05 FF FF");
}

// An implementation that keeps a text and writes it as its payload.
constexpr OsType kTestSignature = FourCC("TsPl");

class PayloadImplementation : public VObject, public IJSONObject {
public:
    explicit PayloadImplementation(std::string inPayload, EJSONStatus inAnswer = eJSONStatus_Done)
        : fPayload(std::move(inPayload)), fAnswer(inAnswer)
    {
    }

    OsType IJSON_GetBinarySignature() const override { return kTestSignature; }
    EJSONStatus IJSON_GetPropertyNames(std::vector<VString>& outNames) const override
    {
        outNames.push_back(VString("hidden"));
        return eJSONStatus_Done;
    }
    EJSONStatus IJSON_WriteToBuffer(VJSONBinaryBuffer& ioBuffer, uint64_t* outError) override
    {
        if (fAnswer == eJSONStatus_Failed) {
            *outError = QeltError(4242);
            return eJSONStatus_Failed;
        }
        if (fAnswer == eJSONStatus_NotHandled)
            return eJSONStatus_NotHandled;
        const uint64_t size = fPayload.size();
        ioBuffer.AppendData(&size, sizeof(size));
        ioBuffer.AppendData(fPayload.data(), size);
        return eJSONStatus_Done;
    }

    static IJSONObject* Create(VJSONObject*, OsType inSignature, const void* inData, size_t inSize,
                               VRefPtr<VJSONObject>& ioClassObject, uint64_t*)
    {
        EXPECT_EQ(inSignature, kTestSignature);
        ioClassObject = VProcess::sInstance->GetClassStore()->GetFunctionClassObject();
        return new PayloadImplementation(std::string(static_cast<const char*>(inData), inSize));
    }

    std::string fPayload;
    EJSONStatus fAnswer;
};

struct RegisteredSignature {
    RegisteredSignature() { VJSONObjectFactory::Get()->RegisterSignature(kTestSignature, &PayloadImplementation::Create); }
    ~RegisteredSignature() { VJSONObjectFactory::Get()->UnRegisterSignature(kTestSignature); }
};

VJSONValue PayloadObject(const char* inPayload, EJSONStatus inAnswer = eJSONStatus_Done)
{
    VRefPtr<PayloadImplementation> implementation = AdoptRef(new PayloadImplementation(inPayload, inAnswer));
    VJSONValue value(JSON_undefined);
    value.SetObject(AdoptRef(new VJSONObject(nullptr, implementation.Get())).Get());
    value.GetObject()->SetOwnProperty(VString("own"), VJSONValue(JSON_true));
    return value;
}

TEST(JSONBinary, AnImplementationsPayloadFollowsItsSignatureAndIsRebuiltThroughTheFactory)
{
    RegisteredSignature registered;
    EXPECT_TRUE(VJSONObjectFactory::Get()->IsSignatureSupported(kTestSignature));
    const Bytes bytes = Encode(PayloadObject("xyz"));
    // Own properties only (not the implementation's "hidden"), then the
    // signature and the payload the implementation wrote.
    EXPECT_EQ(Hex(bytes), Hex(Join({FromHex("05 03 00"), Units("own"),
                                    FromHex("02 FD FF 6C 50 73 54 03 00 00 00 00 00 00 00 78 79 7A")})));

    VJSONValue back = Decode(bytes);
    ASSERT_TRUE(back.IsObject());
    auto* rebuilt = dynamic_cast<PayloadImplementation*>(back.GetObject()->GetImplementation());
    ASSERT_NE(rebuilt, nullptr);
    EXPECT_EQ(rebuilt->fPayload, "xyz");
    EXPECT_TRUE(back.GetObject()->GetOwnProperty(VString("own")).GetBool());
    // The class object the factory handed back is the object's class.
    EXPECT_EQ(back.GetObject()->_GetClass(),
              VJSONClass::FromClassObject(VProcess::sInstance->GetClassStore()->GetFunctionClassObject()));
    EXPECT_EQ(Hex(Encode(back)), Hex(bytes));
}

TEST(JSONBinary, AnImplementationThatWritesNothingGetsAnEmptyPayloadAndOneThatFailsStopsTheWriting)
{
    const Bytes empty = Encode(PayloadObject("", eJSONStatus_NotHandled));
    EXPECT_EQ(Hex(empty), Hex(Join({FromHex("05 03 00"), Units("own"),
                                    FromHex("02 FD FF 6C 50 73 54 00 00 00 00 00 00 00 00")})));

    VJSONValue holder(JSON_object);
    holder.SetProperty(VString("p"), PayloadObject("", eJSONStatus_Failed));
    EXPECT_EQ(Write(holder).error, QeltError(4242));
    EXPECT_TRUE(Write(holder).bytes.empty());

    // Without the factory entry the object keeps its own properties only.
    EXPECT_FALSE(VJSONObjectFactory::Get()->IsSignatureSupported(kTestSignature));
    VJSONValue back = Decode(Encode(PayloadObject("abc")));
    ASSERT_TRUE(back.IsObject());
    EXPECT_EQ(back.GetObject()->GetImplementation(), nullptr);
    EXPECT_EQ(Text(back), "{\"own\":true}");
}

TEST(JSONBinary, ABlobIsWrittenUnderItsSignatureAndReadBackOverABufferOfItsOwn)
{
    EXPECT_TRUE(VJSONObjectFactory::Get()->IsSignatureSupported(FourCC("JBlb")));
    VRefPtr<VJSONObject> blob = AdoptRef(VJSONBlob::Create("0123456789", 10));
    // A slice writes only its own bytes.
    VRefPtr<VJSONObject> slice = AdoptRef(VJSONBlob::CastJSONObject(blob.Get())->CreateSlice(2, -1));
    VJSONValue holder(JSON_object);
    holder.SetProperty(VString("b"), VJSONValue(blob.Get()));
    holder.SetProperty(VString("s"), VJSONValue(slice.Get()));
    const Bytes bytes = Encode(holder);
    EXPECT_EQ(Hex(bytes), Hex(Join({FromHex("05 01 00"), Units("b"), FromHex("05 FD FF 62 6C 42 4A 0A 00 00 00 00 00 00 00"),
                                    Bytes{'0', '1', '2', '3', '4', '5', '6', '7', '8', '9'},
                                    FromHex("01 00"), Units("s"), FromHex("05 FD FF 62 6C 42 4A 07 00 00 00 00 00 00 00"),
                                    Bytes{'2', '3', '4', '5', '6', '7', '8'}, FromHex("FF FF")})));

    VJSONValue back = Decode(bytes);
    for (const char* name : {"b", "s"}) {
        VJSONObject* object = back.GetProperty(VString(name)).GetObject();
        VJSONBlob* read = VJSONBlob::CastJSONObject(object);
        ASSERT_NE(read, nullptr) << name;
        VJSONBlob* original = VJSONBlob::CastJSONObject(holder.GetProperty(VString(name)).GetObject());
        ASSERT_EQ(read->GetSize(), original->GetSize()) << name;
        EXPECT_EQ(std::memcmp(read->GetData(), original->GetData(), read->GetSize()), 0) << name;
        EXPECT_NE(read->GetBuffer(), original->GetBuffer()) << name;
        EXPECT_EQ(object->_GetClass(), VJSONClass::FromClassObject(VJSONBlob::GetClass())) << name;
    }
    EXPECT_EQ(Hex(Encode(back)), Hex(bytes));

    // In JSON text a blob travels as the binary wrapper.
    VString text;
    ASSERT_EQ(holder.Stringify(text, kJSONWriteQuoted | kJSONWriteBinaryFallback), VE_OK);
    VJSONValue fromText(JSON_undefined);
    ASSERT_EQ(VJSONImporter::ParseString(text, fromText, 0), VE_OK);
    VJSONBlob* read = VJSONBlob::CastJSONObject(fromText.GetProperty(VString("s")).GetObject());
    ASSERT_NE(read, nullptr);
    EXPECT_EQ(std::memcmp(read->GetData(), "2345678", 7), 0);
}

// An implementation that stands for another value in the byte form.
class StandInImplementation : public VObject, public IJSONObject {
public:
    void IJSON_GetValueToWriteToBuffer(VJSONValue& ioValue) const override { ioValue.SetNumber(1.0); }
};

TEST(JSONBinary, AnImplementationMayStandForAnotherValue)
{
    VRefPtr<StandInImplementation> implementation = AdoptRef(new StandInImplementation());
    VRefPtr<VJSONObject> object = AdoptRef(new VJSONObject(nullptr, implementation.Get()));
    object->SetOwnProperty(VString("ignored"), VJSONValue(JSON_true));
    VJSONValue list(JSON_array);
    list.GetArray()->Push(VJSONValue(object.Get()));
    list.GetArray()->Push(VJSONValue(object.Get()));
    // Met again, the object is a reference to its first place, as any
    // container.
    EXPECT_EQ(Hex(Encode(list)),
              Hex(Join({FromHex("06 02 00 00 00 04 00 00 00 00 00 00 F0 3F FF 03 00 00 00"), Units("#/0")})));
}

// ---------------------------------------------------------------------------
// Bad input

TEST(JSONBinary, DataCutAnywhereFailsWith200AndKeepsWhatWasRead)
{
    VJSONValue shared = Parse("[1]");
    VJSONValue object = Parse("{\"s\":\"text\",\"n\":0.5,\"o\":{\"t\":true}}");
    object.SetProperty(VString("d"), Date(2024, 2, 29));
    object.SetProperty(VString("a"), shared);
    object.SetProperty(VString("b"), shared);
    VRefPtr<VJSONObject> classed =
        AdoptRef(new VJSONObject(VProcess::sInstance->GetClassStore()->GetFunctionClassObject()));
    const Bytes fulls[] = {
        Encode(object),
        Encode(VJSONValue(classed.Get())),
        Encode(VJSONValue(VString("text"))),
        Encode(VJSONValue(0.25)),
        Encode(Date(2000, 1, 1)),
        Encode(Parse("[[],{},\"\"]")),
        FromHex("05 01 00 61 00 09 06 00 00 00 AA AA FF FF"),  // a record of an unknown kind
    };
    for (const Bytes& full : fulls) {
        VJSONValue whole(JSON_undefined);
        ASSERT_EQ(Read(full, whole), VE_OK) << Hex(full);
        for (size_t cut = 1; cut < full.size(); ++cut) {
            const Bytes part(full.begin(), full.begin() + static_cast<long>(cut));
            VJSONValue value(JSON_undefined);
            EXPECT_EQ(Read(part, value), QeltError(200)) << Hex(part);
        }
    }
    // A number cut short leaves the value undefined; the members read before
    // the fault stay.
    VJSONValue value(1.0);
    EXPECT_EQ(Read(FromHex("04 00 00 00 00 00 00 F0"), value), QeltError(200));
    EXPECT_TRUE(value.IsUndefined());
    EXPECT_EQ(Read(Join({FromHex("05 01 00"), Units("k"), FromHex("02 01 00"), Units("n"), FromHex("04 00 00")}), value),
              QeltError(200));
    EXPECT_TRUE(value.GetProperty(VString("k")).GetBool());
    EXPECT_TRUE(value.GetProperty(VString("n")).IsUndefined());
}

TEST(JSONBinary, CountsAndLengthsBeyondTheDataAreRefusedBeforeAnyAllocation)
{
    const char* cases[] = {
        "06 FF FF FF 7F 00",             // an array of two billion elements
        "06 02 00 00 00 00",             // two elements announced, one byte left
        "03 FF FF FF FF 41 00",          // a string longer than the data
        "05 FF 7F 41 00",                // a member name longer than the data
        "FF FF FF FF FF 23 00",          // a reference path longer than the data
        "09 FF FF FF FF",                // an unknown record longer than the data
        "09 02 00 00 00",                // a record shorter than its own length field
        "05 FD FF 2A 2A 2A 2A FF FF FF FF FF FF FF FF",  // a payload beyond the data
        "05 FD FF 2A 2A",                // a class record cut in its signature
    };
    for (const char* c : cases) {
        VJSONValue value(JSON_undefined);
        EXPECT_EQ(Read(FromHex(c), value), QeltError(200)) << c;
    }
    // The count that stands for undefined.
    VJSONValue value(JSON_null);
    EXPECT_EQ(Read(FromHex("06 FE FF FF FF"), value), VE_OK);
    EXPECT_TRUE(value.IsUndefined());
}

TEST(JSONBinary, UnknownRecordsAndMarkersAreSkipped)
{
    // In order: a member "a" whose value is an unknown record (skipped: the
    // member is undefined), a marker with the high bit set, a member "b"
    // holding the undefined object form, whose 0xFFFE the member loop skips.
    const Bytes bytes = Join({FromHex("05 01 00"), Units("a"), FromHex("C8 06 00 00 00 AA AA"), FromHex("00 80"),
                              FromHex("01 00"), Units("b"), FromHex("05 FE FF"), FromHex("01 00"), Units("c"),
                              FromHex("02 FF FF")});
    VJSONValue value = Decode(bytes);
    EXPECT_TRUE(value.GetProperty(VString("a")).IsUndefined());
    EXPECT_TRUE(value.GetProperty(VString("b")).IsUndefined());
    EXPECT_TRUE(value.GetProperty(VString("c")).GetBool());
}

TEST(JSONBinary, NestingDeeperThan512LevelsFailsWith108InTheWriterAndTheReader)
{
    for (bool objects : {false, true}) {
        const VJSONValue deepest = objects ? NestedObjects(512) : NestedArrays(512);
        const Bytes bytes = Encode(deepest);
        VJSONValue back = Decode(bytes);
        EXPECT_EQ(Hex(Encode(back)), Hex(bytes)) << objects;

        // One more level: the writer refuses and leaves the buffer as it was.
        const VJSONValue tooDeep = objects ? NestedObjects(513) : NestedArrays(513);
        Written written = Write(tooDeep);
        EXPECT_EQ(written.error, QeltError(108)) << objects;
        EXPECT_TRUE(written.bytes.empty()) << objects;

        // The same bytes built by hand: the reader refuses them.
        Bytes deeper = objects ? Join({FromHex("05 01 00"), Units("o"), bytes, FromHex("FF FF")})
                               : Join({FromHex("06 01 00 00 00"), bytes});
        VJSONValue value(JSON_undefined);
        EXPECT_EQ(Read(deeper, value), QeltError(108)) << objects;
    }
}

TEST(JSONBinary, NamesOfMoreThan0x7FFFUnitsAreRefusedWith107)
{
    for (int length : {0x7FFF, 0x8000}) {
        VString name;
        for (int i = 0; i < length; ++i)
            name.AppendUniChar('n');
        VJSONValue value(JSON_object);
        value.SetProperty(name, VJSONValue(JSON_true));
        Written written = Write(value);
        EXPECT_EQ(written.error, length == 0x7FFF ? VE_OK : QeltError(107)) << length;
        if (written.error == VE_OK) {
            EXPECT_TRUE(Decode(written.bytes).GetProperty(name).GetBool());
        }
    }
}

TEST(JSONBinary, ABufferThatCannotGrowFailsWith100)
{
    // A pooled manager that was given no memory: no block can be had.
    VCppMemMgr* manager = new VCppMemMgr(VCppMemMgr::eAllocatorPooled);
    {
        VJSONBinaryBuffer buffer(manager);
        VJSONBinaryWriter writer;
        StErrorContextInstaller errors(false);
        EXPECT_EQ(writer.StreamValue(Parse("{\"a\":[1,2]}"), buffer), QeltError(100));
        EXPECT_EQ(errors.GetLastError(), QeltError(100));
        EXPECT_EQ(buffer.GetDataSize(), 0u);
    }
    delete manager;
}

// ---------------------------------------------------------------------------
// Binary form inside JSON text

TEST(JSONBinary, StringifyFallsBackToTheBinaryWrapperAndTheTextImporterRestoresTheCycle)
{
    VJSONValue me(JSON_object);
    me.SetProperty(VString("x"), VJSONValue(3.0));
    me.SetProperty(VString("me"), me);
    VString text;
    ASSERT_EQ(me.Stringify(text, kJSONWriteQuoted | kJSONWriteBinaryFallback), VE_OK);
    EXPECT_TRUE(text.BeginsWithRawString(VString("{\"__PRIVATE_BINARY_OBJECT\":\"")));
    VJSONValue back(JSON_undefined);
    ASSERT_EQ(VJSONImporter::ParseString(text, back, 0), VE_OK);
    ASSERT_TRUE(back.IsObject());
    EXPECT_EQ(back.GetProperty(VString("me")).GetObject(), back.GetObject());
    EXPECT_EQ(back.GetProperty(VString("x")).GetNumber(), 3.0);
    // As a member value too.
    VString member("{\"m\":");
    member.AppendString(text);
    member.AppendCString("}");
    VJSONValue holder(JSON_undefined);
    ASSERT_EQ(VJSONImporter::ParseString(member, holder, 0), VE_OK);
    VJSONValue inner = holder.GetProperty(VString("m"));
    EXPECT_EQ(inner.GetProperty(VString("me")).GetObject(), inner.GetObject());

    // A value that has a text form is written as text.
    VString plain;
    ASSERT_EQ(Parse("{\"a\":1}").Stringify(plain, kJSONWriteQuoted | kJSONWriteBinaryFallback), VE_OK);
    EXPECT_TRUE(plain.EqualToStringRaw(VString("{\"a\":1}")));
}

TEST(JSONBinary, TheBagReaderTakesTheBinaryWrapperAndFailsOnBadBytes)
{
    // An object met twice has no text form under the fallback's flags.
    VJSONValue twice = Parse("{\"k\":\"v\"}");
    VJSONValue holder = Parse("{\"s\":\"text\"}");
    holder.SetProperty(VString("o1"), twice);
    holder.SetProperty(VString("o2"), twice);
    VString text;
    ASSERT_EQ(holder.Stringify(text, kJSONWriteQuoted | kJSONWriteBinaryFallback), VE_OK);
    EXPECT_TRUE(text.BeginsWithRawString(VString("{\"__PRIVATE_BINARY_OBJECT\":\"")));
    {
        VRefPtr<VValueBag> bag = AdoptRef(new VValueBag());
        StErrorContextInstaller errors(false);
        EXPECT_EQ(bag->FromJSONString(text, 0), VE_OK);
        VString s;
        EXPECT_TRUE(bag->GetAttribute(StPackedDictionaryKey("s"), s));
        EXPECT_TRUE(s.EqualToStringRaw(VString("text")));
        VBagArray* second = bag->GetElements(StPackedDictionaryKey("o2"));
        ASSERT_NE(second, nullptr);
        EXPECT_EQ(second->GetCount(), 1);
    }
    // "BQ==" is the single byte 05: an object cut short. Both readers fail.
    const VString cut("{\"__PRIVATE_BINARY_OBJECT\":\"BQ==\"}");
    {
        VRefPtr<VValueBag> bag = AdoptRef(new VValueBag());
        StErrorContextInstaller errors(false);
        EXPECT_EQ(bag->FromJSONString(cut, 0), QeltError(200));
    }
    VJSONValue value(JSON_undefined);
    StErrorContextInstaller errors(false);
    EXPECT_EQ(VJSONImporter::ParseString(cut, value, 0), QeltError(200));
}

}  // namespace
}  // namespace qelt
