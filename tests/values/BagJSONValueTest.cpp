#include <gtest/gtest.h>

#include <limits>
#include <memory>
#include <string>

#include "json/VJSONArray.h"
#include "json/VJSONObject.h"
#include "json/VJSONValue.h"
#include "kernel/VBoolean.h"
#include "kernel/VLong.h"
#include "kernel/VReal.h"
#include "kernel/VString.h"
#include "process/VProcess.h"
#include "runtime/VErrorContext.h"
#include "values/VBagArray.h"
#include "values/VBlob.h"
#include "values/VDuration.h"
#include "values/VTime.h"
#include "values/VUUID.h"
#include "values/VValueBag.h"

namespace qelt {
namespace {

std::string Narrow(const VString& s)
{
    std::string out;
    for (int i = 0; i < s.GetLength(); ++i) {
        UniChar c = s.GetCPointer()[i];
        out.push_back(c < 128 ? static_cast<char>(c) : '?');
    }
    return out;
}

struct BagRef {
    void operator()(VValueBag* bag) const { bag->Release(); }
};
using BagPtr = std::unique_ptr<VValueBag, BagRef>;

BagPtr NewBag() { return BagPtr(new VValueBag()); }

void AddChild(VValueBag* parent, const char* name, VValueBag* child) { parent->AddElement(name, child); }

// The JSON text of the bag's JSON value (object members in insertion order).
std::string ValueText(const VValueBag& bag)
{
    VJSONValue json;
    EXPECT_EQ(bag.GetJSONValue(json, 0), VE_OK);
    EXPECT_TRUE(json.IsObject());
    VString text;
    EXPECT_EQ(json.Stringify(text, 1), VE_OK);
    return Narrow(text);
}

std::string BagText(const VValueBag& bag)
{
    VString text;
    EXPECT_EQ(bag.GetJSONString(text, 0), VE_OK);
    return Narrow(text);
}

TEST(BagJSONValue, SameShapeAsTheBagText)
{
    BagPtr empty = NewBag();
    EXPECT_EQ(ValueText(*empty), "{}");

    // Attributes, a list of two, a single child, a single child marked as
    // the object of its member, text content, reserved names.
    BagPtr bag = NewBag();
    bag->SetAttribute("a", VLong(1));
    bag->SetAttribute("s", VString("x\"y\\z\n"));
    bag->SetAttribute("t", VBoolean(true));
    bag->SetAttribute("r", VReal(2.5));
    bag->SetAttribute(VValueBag::CDataAttributeName(), VString("text"));
    bag->SetAttribute("____property_name_in_jsarray", VString("hidden"));
    BagPtr first = NewBag();
    BagPtr second = NewBag();
    AddChild(bag.get(), "b", first.get());
    AddChild(bag.get(), "b", second.get());
    BagPtr lone = NewBag();
    lone->SetAttribute("k", VLong(-4));
    AddChild(bag.get(), "one", lone.get());
    BagPtr unic = NewBag();
    unic->SetAttribute("____objectunic", VBoolean(true));
    AddChild(bag.get(), "obj", unic.get());

    const std::string expected =
        "{\"a\":1,\"s\":\"x\\\"y\\\\z\\n\",\"t\":true,\"r\":2.5,\"__CDATA\":\"text\","
        "\"b\":[{},{}],\"one\":[{\"k\":-4}],\"obj\":{}}";
    EXPECT_EQ(BagText(*bag), expected);
    EXPECT_EQ(ValueText(*bag), expected);
}

TEST(BagJSONValue, ScalarsReadAsTheirText)
{
    BagPtr bag = NewBag();
    VReal nan(std::numeric_limits<double>::quiet_NaN());
    bag->SetAttribute("nan", nan);
    bag->SetAttribute("duration", VDuration(1500));
    bag->SetAttribute("uuid", VUUID("000102030405060708090A0B0C0D0E0F"));
    bag->SetAttribute("big", VReal(1e20));

    VJSONValue json;
    ASSERT_EQ(bag->GetJSONValue(json, 0), VE_OK);
    ASSERT_TRUE(json.IsObject());
    EXPECT_EQ(json.GetProperty(VString("nan")).GetType(), JSON_null);
    EXPECT_EQ(json.GetProperty(VString("duration")).GetNumber(), 1500.0);
    VJSONValue uuid = json.GetProperty(VString("uuid"));
    ASSERT_TRUE(uuid.IsString());
    VString uuidText;
    uuid.GetString(uuidText, nullptr);
    EXPECT_EQ(Narrow(uuidText), "000102030405060708090A0B0C0D0E0F");
    EXPECT_EQ(json.GetProperty(VString("big")).GetNumber(), 1e20);
}

TEST(BagJSONValue, QuotedDatesBecomeDates)
{
    BagPtr bag = NewBag();
    VTime midnight;
    midnight.FromUTCTime(2026, 12, 8, 0, 0, 0, 0);
    VTime evening;
    evening.FromUTCTime(2026, 12, 8, 21, 53, 42, 123);
    bag->SetAttribute("midnight", midnight);
    bag->SetAttribute("evening", evening);
    bag->SetAttribute("iso", VString("2024-02-29"));
    bag->SetAttribute("marked", VString("!!2024-03-01!!"));
    bag->SetAttribute("loose", VString("2024-2-29"));

    VJSONValue json;
    ASSERT_EQ(bag->GetJSONValue(json, 0), VE_OK);
    struct Case {
        const char* name;
        JSONType type;
        short year, month, day;
    } cases[] = {
        {"midnight", JSON_date, 2026, 12, 8},
        {"evening", JSON_string, 0, 0, 0},
        {"iso", JSON_date, 2024, 2, 29},
        {"marked", JSON_date, 2024, 3, 1},
        {"loose", JSON_string, 0, 0, 0},
    };
    for (const Case& c : cases) {
        VJSONValue member = json.GetProperty(VString(c.name));
        EXPECT_EQ(member.GetType(), c.type) << c.name;
        if (c.type == JSON_date) {
            short y = 0, m = 0, d = 0;
            ASSERT_TRUE(member.GetDate(&y, &m, &d));
            EXPECT_EQ(y, c.year) << c.name;
            EXPECT_EQ(m, c.month) << c.name;
            EXPECT_EQ(d, c.day) << c.name;
        }
    }
    VString evening_text;
    json.GetProperty(VString("evening")).GetString(evening_text, nullptr);
    EXPECT_EQ(Narrow(evening_text), "2026-12-08T21:53:42.123Z");
}

TEST(BagJSONValue, BareArrayElements)
{
    BagPtr bag = NewBag();
    BagPtr bare = NewBag();
    bare->SetAttribute("____FakeArrayElement", VLong(3));
    bare->SetAttribute("ignored", VLong(9));
    BagPtr object = NewBag();
    AddChild(bag.get(), "list", bare.get());
    AddChild(bag.get(), "list", object.get());
    EXPECT_EQ(BagText(*bag), "{\"list\":[3,{}]}");
    EXPECT_EQ(ValueText(*bag), "{\"list\":[3,{}]}");

    // A bag that stands for a bare value makes no object.
    VError error = 1;
    EXPECT_EQ(bare->BuildJSONObject(error), nullptr);
    EXPECT_EQ(error, VE_OK);
    VJSONValue json(1.0);
    EXPECT_EQ(bare->GetJSONValue(json, 0), VE_OK);
    EXPECT_EQ(json.GetType(), JSON_undefined);
}

TEST(BagJSONValue, BuildJSONObjectGivesOneReference)
{
    BagPtr bag = NewBag();
    bag->SetAttribute("a", VLong(1));
    VError error = 1;
    VJSONObject* object = bag->BuildJSONObject(error);
    ASSERT_NE(object, nullptr);
    EXPECT_EQ(error, VE_OK);
    EXPECT_EQ(object->GetProperty(VString("a")).GetNumber(), 1.0);
    object->Release();  // the only reference: released without a leak
}

TEST(BagJSONValue, AttributeWithoutJSONTextFails)
{
    std::unique_ptr<VProcess> process(new VProcess);
    ASSERT_TRUE(process->Init(0));
    // A blob has no JSON text of its own (it writes nothing): the bag's text
    // is then not JSON, so there is no object.
    BagPtr bag = NewBag();
    bag->SetAttribute("a", VLong(1));
    ASSERT_TRUE(bag->SetAttribute("blob", VBlobWithPtr("abc", 3)));
    ASSERT_EQ(BagText(*bag), "{\"a\":1,\"blob\":}");

    StErrorContextInstaller errors;
    VJSONValue json(1.0);
    const VError error = bag->GetJSONValue(json, 0);
    EXPECT_EQ(error, QeltError(550));
    EXPECT_EQ(json.GetType(), JSON_undefined);
    EXPECT_EQ(errors.GetLastError(), QeltError(550));
}

// A JSON null read into a bag stays a null string in memory, through every
// way a bag keeps or copies its values, so that its JSON text says null again.
TEST(BagJSONValue, NullReadFromJSONIsWrittenBackAsNull)
{
    BagPtr bag = NewBag();
    ASSERT_EQ(bag->FromJSONString(VString("{\"e\":null,\"s\":\"\"}"), 0), VE_OK);
    EXPECT_EQ(BagText(*bag), "{\"e\":null,\"s\":\"\"}");
    VString e("before");
    ASSERT_TRUE(bag->GetAttribute("e", e));
    EXPECT_TRUE(e.IsNull());
    VString s;
    ASSERT_TRUE(bag->GetAttribute("s", s));
    EXPECT_FALSE(s.IsNull());

    // Copies: a clone, a merge into another bag, and the JSON value.
    BagPtr clone(bag->Clone());
    EXPECT_EQ(BagText(*clone), "{\"e\":null,\"s\":\"\"}");
    BagPtr merged = NewBag();
    merged->UnionClone(bag.get());
    EXPECT_EQ(BagText(*merged), "{\"e\":null,\"s\":\"\"}");
    EXPECT_EQ(ValueText(*bag), "{\"e\":null,\"s\":\"\"}");

    // A null value set over a record of the same packed size (the empty
    // string), and a value set over a null one.
    bag->SetAttribute("s", VString(true));
    bag->SetAttribute("e", VString(""));
    EXPECT_EQ(BagText(*bag), "{\"e\":\"\",\"s\":null}");
    VLong nullLong;
    nullLong.SetNull(true);
    bag->SetAttribute("n", nullLong);
    bag->SetAttribute("e", VLong(4));
    EXPECT_EQ(BagText(*bag), "{\"e\":4,\"s\":null,\"n\":null}");
    BagPtr copy(new VValueBag(*bag));
    EXPECT_EQ(BagText(*copy), "{\"e\":4,\"s\":null,\"n\":null}");
}

}  // namespace
}  // namespace qelt
