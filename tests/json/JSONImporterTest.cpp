#include <gtest/gtest.h>

#include "JSONTextTestSupport.h"

#include <cmath>
#include <string>
#include <thread>
#include <vector>

#include "json/json.h"
#include "kernel/VLong.h"
#include "kernel/VString.h"
#include "runtime/VErrorBase.h"
#include "runtime/VErrorContext.h"
#include "values/VValueBag.h"

namespace qelt {
namespace {

using test::Parse;
using test::ToStd;
using test::Write;


VString FromUTF8(const std::string& inText)
{
    return VString(inText.data(), static_cast<unsigned long>(inText.size()), VTC_UTF_8);
}

std::string JSONOf(const VJSONValue& inValue)
{
    VString text;
    EXPECT_EQ(inValue.Stringify(text, kJSONWriteQuoted), VE_OK);
    return ToStd(text);
}

std::string Attribute(const VErrorBase* inError, const char* inName)
{
    VString value;
    if (!inError->GetBag()->GetAttribute(StPackedDictionaryKey(inName), value))
        return "<none>";
    return ToStd(value);
}

int Number(const VErrorBase* inError, const char* inName)
{
    VLong value;
    if (!inError->GetBag()->GetAttribute(StPackedDictionaryKey(inName), value))
        return -1;
    return value.GetLong();
}

// The codes of the errors a context collected, oldest first.
std::vector<int> Codes(const StErrorContextInstaller& inErrors)
{
    std::vector<int> codes;
    for (const VErrorBase* error : inErrors.GetContext()->GetErrors())
        codes.push_back(static_cast<int>(error->GetError() & 0xFFFFFFFF));
    return codes;
}

struct ParseCase {
    const char* text;  // UTF-8
    uint32_t options;
    const char* json;  // the result written with 0x1
    std::vector<int> codes;
    const char* found;     // of the first report, when it has one
    const char* expected;  // of the first report
};

TEST(JSONImporter, ReadsTextsAndReportsWhatWentWrong)
{
    const char* kValue = "\" 0-9 null true false { [";
    const std::vector<ParseCase> cases = {
        {"", 0, "null", {554, 550}, "", kValue},
        {"  \t\n ", 0, "null", {554, 550}, "", kValue},
        {"  42  ", 0, "42", {}, nullptr, nullptr},
        {"1 2", 0, "1", {}, nullptr, nullptr},
        {"-", 0, "0", {}, nullptr, nullptr},
        {"01", 0, "null", {551, 550}, "01", "+- 0-9 eE"},
        {"1.", 0, "null", {551, 550}, "1.", "+- 0-9 eE"},
        {"1e", 2, "null", {551, 550}, "1e", "+- 0-9 eE"},
        {"1.5E+3", 0, "1500", {}, nullptr, nullptr},
        {"2e\xE2\x88\x92" "3", 0, "0.002", {}, nullptr, nullptr},
        {"-0.25e1", 0, "-2.5", {}, nullptr, nullptr},
        {"{}", 0, "{}", {}, nullptr, nullptr},
        {"[]", 0, "[]", {}, nullptr, nullptr},
        {"[1,]", 0, "[1]", {553, 550}, nullptr, nullptr},
        {"[1,]", 1, "null", {553, 550}, nullptr, nullptr},
        {"{\"a\":1,}", 0, "{\"a\":1}", {553, 550}, nullptr, nullptr},
        {"{a:1}", 0, "{\"a\":1}", {}, nullptr, nullptr},
        {"{a:1}", 2, "{}", {551, 550}, "a", "\""},
        {"hello", 0, "\"hello\"", {}, nullptr, nullptr},
        {"hello", 2, "null", {551, 550}, "hello", kValue},
        {"[nul,True]", 0, "[\"nul\",\"True\"]", {}, nullptr, nullptr},
        {"\"abc", 0, "\"abc\"", {}, nullptr, nullptr},
        {"\"abc", 2, "null", {552, 550}, nullptr, nullptr},
        {"\"\\u00e9\\q\\/\\n\"", 0, "\"<U+00E9>q/\\n\"", {}, nullptr, nullptr},
        {"\"ab\\u00\"", 0, "\"ab\"", {}, nullptr, nullptr},
        {"{\"a\":1 \"b\":2}", 0, "{\"a\":1}", {551, 550}, "\"", "} ,"},
        {"[1 2]", 0, "[1]", {551, 550}, "2", "] ,"},
        {"[:]", 0, "[]", {551, 550}, ":", "\" 0-9 null true false { [ ]"},
        {"[1,:]", 0, "[1]", {551, 550}, ":", kValue},
        {"{\"a\" 1}", 0, "{}", {551, 550}, "1", ":"},
        {"{\"a\"", 0, "{}", {554, 550}, "", ":"},
        {"{1:2", 0, "{\"1\":2}", {554, 550}, "", "} ,"},
        {"{,}", 0, "{}", {551, 550}, ",", "\" }"},
        {"[1,[2,{\"x\":[3,]}]]", 0, "[1]", {553, 550}, nullptr, nullptr},
        {"[1,2", 4, "[1,2]", {}, nullptr, nullptr},
    };
    for (const ParseCase& c : cases) {
        SCOPED_TRACE(std::string("text: ") + c.text + " options: " + std::to_string(c.options));
        StErrorContextInstaller errors(false);
        VJSONValue value(JSON_undefined);
        VError error = VJSONImporter::ParseString(FromUTF8(c.text), value, c.options);
        EXPECT_EQ(JSONOf(value), c.json);
        std::vector<int> codes = Codes(errors);
        // Option 0x4 silences the invalid-token report; the parse still fails.
        if (c.options == 4) {
            EXPECT_EQ(error, QeltError(550));
            EXPECT_TRUE(codes.empty());
            continue;
        }
        EXPECT_EQ(codes, c.codes);
        EXPECT_EQ(error, c.codes.empty() ? VE_OK : QeltError(550));
        if (c.found != nullptr && !codes.empty()) {
            const VErrorBase* first = errors.GetContext()->GetErrors().front();
            EXPECT_EQ(Attribute(first, "found"), c.found);
            EXPECT_EQ(Attribute(first, "expected"), c.expected);
        }
    }
}

TEST(JSONImporter, UndefinedOnErrorOnlyWithItsOption)
{
    StErrorContextInstaller errors(false);
    VJSONValue value(JSON_undefined);
    EXPECT_EQ(VJSONImporter::ParseString(VString("[1,2,x"), value, 0x3), QeltError(550));
    EXPECT_TRUE(value.IsUndefined());
    EXPECT_EQ(VJSONImporter::ParseString(VString("[1,2,x"), value, 0x2), QeltError(550));
    EXPECT_EQ(JSONOf(value), "[1,2]");
}

TEST(JSONImporter, ReportsLineAndPositionOfTheFailingToken)
{
    struct Case {
        const char* text;
        int line;
        int position;
        int code;
    };
    const Case cases[] = {
        {"{\n\"a\" 1}", 2, 5, 551},
        {"{\r\n\"a\" 1}", 2, 6, 551},
        {"{\r\"a\" 1}", 2, 5, 551},
        {"\n\n  [1,\n   2,]", 4, 6, 553},
        {"\"abc", 1, 1, 552},
        {"[\"a\nb\", x y]", 2, 5, 551},
        // numbers ended by a line end, then a token that does not belong
        {"[1\n 2]", 2, 2, 551},
        {"[-1.5e3\r\n,\r\n01]", 3, 2, 551},
        {"{\"a\":12\n\"b\":1}", 2, 1, 551},
        {"[1,2.5e", 1, 4, 551},
        {"[1", 1, 3, 554},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        StErrorContextInstaller errors(false);
        VJSONValue value(JSON_undefined);
        VJSONImporter::ParseString(VString(c.text), value, 0x2);
        const auto& list = errors.GetContext()->GetErrors();
        ASSERT_EQ(list.size(), 2u);
        EXPECT_EQ(list[0]->GetError(), QeltError(c.code));
        EXPECT_EQ(list[1]->GetError(), QeltError(550));
        EXPECT_EQ(Number(list[1], "line"), c.line);
        EXPECT_EQ(Number(list[1], "position"), c.position);
        EXPECT_EQ(Attribute(list[1], "source"), "");
    }
}

TEST(JSONImporter, NestingBeyondTheLimitFailsAndKeepsWhatWasRead)
{
    for (int depth : {VJSONImporter::kMaxDepth, VJSONImporter::kMaxDepth + 1, 100000}) {
        SCOPED_TRACE(depth);
        std::string text = "[0," + std::string(static_cast<size_t>(depth - 1), '[') + "1";
        StErrorContextInstaller errors(false);
        VJSONValue value(JSON_undefined);
        VError error = VJSONImporter::ParseString(VString(text.c_str()), value, 0);
        if (depth <= VJSONImporter::kMaxDepth) {
            // An open array at the end is the end of the text: 554.
            EXPECT_EQ(Codes(errors), (std::vector<int>{554, 550}));
        } else {
            EXPECT_EQ(Codes(errors), (std::vector<int>{555, 550}));
        }
        EXPECT_EQ(error, QeltError(550));
        ASSERT_TRUE(value.IsArray());
        VJSONValue first = value.GetArray()->GetAt(0);
        EXPECT_EQ(first.GetNumber(), 0.0);
    }
}

TEST(JSONImporter, DatesFollowTheOptions)
{
    struct Case {
        const char* text;
        uint32_t options;
        bool isDate;
    };
    const Case cases[] = {
        {"\"!!2024-02-29!!\"", 0x40, true},   {"\"2024-02-29\"", 0x80, true},
        {"\"2024-2-29\"", 0x80, false},       {"\"2024-02-29\"", 0x240, false},
        {"\"!!2024-02-29!!\"", 0x240, true},  {"\"!!2024-02-29T10:00:00Z!!\"", 0x240, false},
        {"\"!!2024-02-29T10:00:00Z!!\"", 0x40, true}, {"\"2024-02-29\"", 0, false},
        {"\"!!2024-02-29!!\"", 0x200, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.text) + " " + std::to_string(c.options));
        VJSONValue value(JSON_undefined);
        ASSERT_EQ(VJSONImporter::ParseString(VString(c.text), value, c.options), VE_OK);
        EXPECT_EQ(value.IsDate(), c.isDate);
        if (c.isDate) {
            short year, month, day;
            value.GetDate(&year, &month, &day);
            EXPECT_EQ(year * 10000 + month * 100 + day, 20240229);
        }
    }
    VJSONValue value(JSON_undefined);
    ASSERT_EQ(value.ParseFromString(VString("[\"2024-02-29\",\"!!2024-03-01!!\"]"), true, true), VE_OK);
    EXPECT_FALSE(value.GetArray()->GetAt(0).IsDate());
    EXPECT_TRUE(value.GetArray()->GetAt(1).IsDate());
    ASSERT_EQ(value.ParseFromString(VString("[\"2024-02-29\"]"), true, false), VE_OK);
    EXPECT_TRUE(value.GetArray()->GetAt(0).IsDate());
}

TEST(JSONImporter, RecordsPathsAndLinesOfMembers)
{
    VJSONImporter importer(VString("{\"a\":{\"b\":[1,{\"c\":2}]}}"), 0x8);
    VJSONValue value(JSON_undefined);
    ASSERT_EQ(importer.Parse(value), VE_OK);
    VJSONObject* paths = importer.GetPathsLines();
    ASSERT_NE(paths, nullptr);
    std::vector<std::pair<VString, VJSONValue>> entries;
    paths->GetOwnPropertiesInOrder(entries);
    std::vector<std::string> names;
    for (const auto& entry : entries)
        names.push_back(ToStd(entry.first));
    EXPECT_EQ(names, (std::vector<std::string>{"a", "a.b", "a.b[0]", "a.b[1]", "a.b[1].c", "}"}));
    EXPECT_EQ(JSONOf(paths->GetProperty(VString("a.b[1].c"))), "{\"line\":1,\"offset\":14}");
    EXPECT_EQ(JSONOf(paths->GetProperty(VString("a.b[1]"))), "{\"line\":1,\"offset\":13}");
    EXPECT_EQ(JSONOf(paths->GetProperty(VString("a.b[0]"))), "{\"line\":1,\"offset\":11}");
    EXPECT_EQ(JSONOf(paths->GetProperty(VString("}"))), "{\"line\":1,\"offset\":22}");

    VJSONImporter lines(VString("{\n  \"k\": 1\n}"), 0x8);
    ASSERT_EQ(lines.Parse(value), VE_OK);
    EXPECT_EQ(JSONOf(lines.GetPathsLines()->GetProperty(VString("k"))), "{\"line\":2,\"offset\":2}");
    EXPECT_EQ(JSONOf(lines.GetPathsLines()->GetProperty(VString("}"))), "{\"line\":3,\"offset\":0}");

    // Line ends that end a number (LF, CR LF, CR alone) are counted once.
    VJSONImporter numbers(VString("{\"a\":1\n,\"b\":-2.5\r\n,\"c\":[3\r,4],\"d\":5e1\n}"), 0x8);
    ASSERT_EQ(numbers.Parse(value), VE_OK);
    EXPECT_EQ(JSONOf(value), "{\"a\":1,\"b\":-2.5,\"c\":[3,4],\"d\":50}");
    EXPECT_EQ(JSONOf(numbers.GetPathsLines()->GetProperty(VString("b"))), "{\"line\":2,\"offset\":1}");
    EXPECT_EQ(JSONOf(numbers.GetPathsLines()->GetProperty(VString("c[1]"))), "{\"line\":4,\"offset\":1}");
    EXPECT_EQ(JSONOf(numbers.GetPathsLines()->GetProperty(VString("d"))), "{\"line\":4,\"offset\":4}");
    EXPECT_EQ(JSONOf(numbers.GetPathsLines()->GetProperty(VString("}"))), "{\"line\":5,\"offset\":0}");
}

TEST(JSONImporter, LinesAreCountedThroughLongBlankRunsWhateverTheLineEnds)
{
    // Member i stands on line i + 2 (the brace has line 1), indented by
    // 3 * i blanks, after line ends of every kind, blank lines among them;
    // strings hold escaped and raw line ends too.
    const char* ends[] = {"\n", "\r\n", "\r", "\n\n", "\r\n\r\n", "\n\r", "\t\n"};
    std::string text = "{";
    int line = 1;
    std::vector<std::pair<int, int>> expected;  // line and offset of member i
    for (int i = 0; i < 14; ++i) {
        const std::string end = ends[i % 7];
        text += end;
        for (size_t k = 0; k < end.size(); ++k) {
            if (end[k] == '\n' || (end[k] == '\r' && (k + 1 >= end.size() || end[k + 1] != '\n')))
                ++line;
        }
        text += std::string(static_cast<size_t>(3 * i), i % 2 == 0 ? ' ' : '\t');
        expected.emplace_back(line, 3 * i);
        text += "\"m";
        text += std::to_string(i);
        text += "\": ";
        text += i % 3 == 0 ? "\"a\\nb c d e f g h i\"," : "12345,";
    }
    text += "\n  \"last\": \"x\ny\"\n}";
    VJSONImporter importer(VString(text.c_str()), kJSONImportPathsAndLines);
    VJSONValue value(JSON_undefined);
    ASSERT_EQ(importer.Parse(value), VE_OK);
    VJSONObject* paths = importer.GetPathsLines();
    auto entry = [](int inLine, int inOffset) {
        std::string json("{\"line\":");
        json += std::to_string(inLine);
        json += ",\"offset\":";
        json += std::to_string(inOffset);
        json += "}";
        return json;
    };
    for (int i = 0; i < 14; ++i) {
        SCOPED_TRACE(i);
        std::string name("m");
        name += std::to_string(i);
        EXPECT_EQ(JSONOf(paths->GetProperty(VString(name.c_str()))), entry(expected[i].first, expected[i].second));
    }
    EXPECT_EQ(JSONOf(paths->GetProperty(VString("last"))), entry(line + 1, 2));
    EXPECT_EQ(JSONOf(paths->GetProperty(VString("}"))), entry(line + 3, 0));
}

TEST(JSONImporter, ALineEndAnywhereInABlankRunIsCountedOnce)
{
    // A run of blanks (spaces and tabs) before the closing brace, of every
    // length up to 80, with a line end of each kind at every place in it:
    // the run starts and ends at every offset of the scanner's steps and at
    // every distance from the end of the text. The line and the column of
    // the brace ("}") show whether each line end was counted exactly once;
    // the line ends after the brace are never read.
    const char* ends[] = {"", "\n", "\r", "\r\n", "\n\r", "\r\r", "\n\n"};
    for (size_t length = 0; length <= 80; ++length) {
        for (const char* end : ends) {
            for (size_t at = 0; at <= length; ++at) {
                std::string run;
                for (size_t k = 0; k < length; ++k)
                    run += k % 5 == 3 ? '\t' : ' ';
                run.insert(at, end);
                const std::string text = "{\"a\":1" + run + "}\n\r\n";
                const size_t brace = text.size() - 4;
                int line = 1;
                size_t lineStart = 0;
                for (size_t k = 0; k < brace; ++k) {
                    if (text[k] == '\n' || (text[k] == '\r' && text[k + 1] != '\n')) {
                        ++line;
                        lineStart = k + 1;
                    }
                }
                std::string expected("{\"line\":");
                expected += std::to_string(line);
                expected += ",\"offset\":";
                expected += std::to_string(brace - lineStart);
                expected += "}";
                VJSONImporter importer(VString(text.c_str()), kJSONImportPathsAndLines);
                VJSONValue value(JSON_undefined);
                ASSERT_EQ(importer.Parse(value), VE_OK);
                const std::string got = JSONOf(importer.GetPathsLines()->GetProperty(VString("}")));
                if (got != expected) {
                    ADD_FAILURE() << "run of " << length << " blanks, line end " << ::testing::PrintToString(end)
                                  << " at " << at << ": " << got << " instead of " << expected;
                    return;
                }
            }
        }
    }
}

TEST(JSONImporter, SharedImportPutsEveryContainerUnderOneLocker)
{
    VJSONValue value(JSON_undefined);
    ASSERT_EQ(VJSONImporter::ParseString(VString("[{},[]]"), value, 0x100), VE_OK);
    VJSONArray* outer = value.GetArray();
    ASSERT_NE(outer, nullptr);
    VStorageLocker* locker = outer->_GetStorageLocker();
    ASSERT_NE(locker, nullptr);
    EXPECT_FALSE(locker->IsFresh());
    EXPECT_GT(outer->GetSharedID(), 0);
    VJSONValue first, second;
    outer->GetAt(0, first);
    outer->GetAt(1, second);
    EXPECT_EQ(first.GetObject()->_GetStorageLocker(), locker);
    EXPECT_EQ(second.GetArray()->_GetStorageLocker(), locker);
}

TEST(JSONImporter, ScannerGivesTokensAndTheirTexts)
{
    VJSONImporter importer(VString("{ key : \"v\\\"w\" , [ ] } tail"), 0);
    using T = VJSONImporter::JsonToken;
    struct Expect {
        T token;
        const char* text;
        bool isString;
    };
    const Expect expected[] = {
        {T::jsonBeginObject, "", false}, {T::jsonString, "key", false}, {T::jsonAssigne, "", false},
        {T::jsonString, "v\"w", true},   {T::jsonSeparator, "", false}, {T::jsonBeginArray, "", false},
        {T::jsonEndArray, "", false},    {T::jsonEndObject, "", false}, {T::jsonString, "tail", false},
        {T::jsonNone, "", false},        {T::jsonNone, "", false},
    };
    for (const Expect& e : expected) {
        VString text;
        bool isString = true;
        VError error = VE_OK;
        EXPECT_EQ(importer.GetNextJSONToken(text, &isString, &error), e.token);
        EXPECT_EQ(ToStd(text), e.text);
        EXPECT_EQ(isString, e.isString);
        EXPECT_EQ(error, VE_OK);
    }
    EXPECT_EQ(ToStd(VJSONImporter::_TokenToString(T::jsonString)), "\"");
    EXPECT_EQ(ToStd(VJSONImporter::_TokenToString(static_cast<T>(9))), "");
}

TEST(JSONImporter, TextsWrittenByTheWriterReadBackToTheSameText)
{
    const char* texts[] = {
        "{\"a\":[1,\"x\",null,true,false,{\"b\":{}}],\"c\":\"tab\\tquote\\\"back\\\\\",\"d\":-1.5E+20}",
        "[[[]],[{}],\"\\u0001\\u001F\",123456789012]",
    };
    for (const char* text : texts) {
        SCOPED_TRACE(text);
        VJSONValue value(JSON_undefined);
        ASSERT_EQ(VJSONImporter::ParseString(VString(text), value, 0), VE_OK);
        EXPECT_EQ(JSONOf(value), text);
    }
}

TEST(JSONImporter, NumbersWrittenAndReadAgainKeepTheirValue)
{
    const double numbers[] = {0.1 + 0.2, 9007199254740992.0, 12345678901234568.0, -1e-300, 5e-324,
                              1.7976931348623157e308, 123.456, 1.0 / 3.0};
    for (double number : numbers) {
        SCOPED_TRACE(number);
        VString text;
        ASSERT_EQ(VJSONValue(number).Stringify(text, kJSONWriteQuoted), VE_OK);
        VJSONValue back(JSON_undefined);
        ASSERT_EQ(VJSONImporter::ParseString(text, back, 0), VE_OK);
        EXPECT_EQ(back.GetNumber(), number) << ToStd(text);
    }
}

TEST(JSONImporter, StringsAndNamesKeepEveryUnitWhateverTheirForm)
{
    // Strings and names read straight from the text and those that escapes
    // or zero units make the reader rebuild give the same values.
    const std::string longName(70, 'k');
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"[\"\",\"plain\",\"caf\xC3\xA9 \xF0\x9F\x91\x8B\"]", "[\"\",\"plain\",\"caf<U+00E9> <U+D83D><U+DC4B>\"]"},
        {"[\"a\\nb\",\"\\u0041BC\",\"tail\\\"\"]", "[\"a\\nb\",\"ABC\",\"tail\\\"\"]"},
        {std::string("[\"a\0b\",\"\0\"]", 12), "[\"ab\",\"\"]"},
        {"{\"\":1,\"a\\tb\":2,\"" + longName + "\":3,x:4}",
         "{\"\":1,\"a\\tb\":2,\"" + longName + "\":3,\"x\":4}"},
        {"{\"k\":{\"k\":{\"k\":[{\"k\":1}]}},\"j\":2}", "{\"k\":{\"k\":{\"k\":[{\"k\":1}]}},\"j\":2}"},
        {"[\"open", "[\"open\"]"},
    };
    for (const auto& [text, json] : cases) {
        SCOPED_TRACE(text);
        StErrorContextInstaller errors(false);
        VJSONValue value(JSON_undefined);
        VJSONImporter::ParseString(VString(text.data(), static_cast<unsigned long>(text.size()), VTC_UTF_8),
                                   value, 0);
        EXPECT_EQ(JSONOf(value), json);
    }
}

TEST(JSONImporter, ANameSharedByTheObjectsOfAnImportStaysTheSameForEach)
{
    // Every object of this text names its member with one shared string;
    // changing one copy of that name changes no object.
    VJSONValue value(JSON_undefined);
    ASSERT_EQ(VJSONImporter::ParseString(VString("[{\"name\":1},{\"name\":2},{\"name\":3}]"), value, 0), VE_OK);
    VJSONArray* array = value.GetArray();
    ASSERT_NE(array, nullptr);
    VJSONValue first(JSON_undefined);
    ASSERT_TRUE(array->GetAt(0, first));
    VString name;
    {
        VJSONPropertyIterator it(first.GetObject());
        ASSERT_TRUE(it.IsValid());
        name = it.GetName();
    }
    name.AppendCString("changed");
    name.SetUniChar(1, 'N');
    VJSONValue second(JSON_undefined);
    ASSERT_TRUE(array->GetAt(1, second));
    second.GetObject()->RemoveProperty(VString("name"));
    second.GetObject()->SetProperty(VString("renamed"), VJSONValue(2.0));
    EXPECT_EQ(JSONOf(value), "[{\"name\":1},{\"renamed\":2},{\"name\":3}]");
    EXPECT_EQ(ToStd(name), "Namechanged");
}

// The count of the block a string holds.
unsigned int BlockCount(const VString& inString)
{
    return VStringBlock::GetCount(const_cast<UniChar*>(inString.GetCPointer()), inString.GetCapacity());
}

// The name of the first member of the object.
VString FirstName(const VJSONValue& inObject)
{
    VJSONPropertyIterator it(inObject.GetObject());
    return it.IsValid() ? it.GetName() : VString();
}

TEST(JSONImporter, ANameSharedByTheMembersOfAnImportCountsEachHolderAndOutlivesTheTree)
{
    // "name" names four members, read every way a member is: a number, a
    // string, a container and a member of an inner object. Each holds one
    // count of the shared block, so a copy kept by the caller is the fifth
    // and, once the tree is gone, the only one, on whatever thread the
    // tree went.
    VJSONValue value(JSON_undefined);
    ASSERT_EQ(VJSONImporter::ParseString(
                  VString(R"([{"name":1},{"name":"x"},{"name":[{"name":true}]}, {"other":[]}])"), value, 0),
              VE_OK);
    VJSONValue first(JSON_undefined);
    ASSERT_TRUE(value.GetArray()->GetAt(0, first));
    const VString name = FirstName(first);
    ASSERT_EQ(ToStd(name), "name");
    EXPECT_EQ(BlockCount(name), 5u);
    first.SetUndefined();
    // Copies made on two threads at once while the tree is released on one
    // of them: the count still comes back to exactly the caller's own.
    std::thread other([&value, &name] {
        for (int i = 0; i < 2000; ++i) {
            const VString copy(name);
            EXPECT_EQ(copy.GetCPointer(), name.GetCPointer());
        }
        value.SetUndefined();
    });
    for (int i = 0; i < 2000; ++i) {
        const VString copy(name);
        EXPECT_EQ(copy.GetCPointer(), name.GetCPointer());
    }
    other.join();
    EXPECT_EQ(BlockCount(name), 1u);
    EXPECT_EQ(ToStd(name), "name");
}

TEST(JSONImporter, AStringValueHoldsOneCountOfItsBlockAndACopyOutlivesTheTree)
{
    // Plain strings (read in place), strings with escapes (decoded first)
    // and strings as elements and as members.
    const char* texts[] = {R"(["a plain string value"])", R"(["with an escape\n here"])",
                           R"({"m":"a plain string value"})", R"({"m":"with \u0041n escape"})"};
    for (const char* text : texts) {
        SCOPED_TRACE(text);
        VJSONValue value = Parse(text);
        VJSONValue string(JSON_undefined);
        if (value.IsArray())
            ASSERT_TRUE(value.GetArray()->GetAt(0, string));
        else
            string = value.GetObject()->GetOwnProperty(VString("m"));
        ASSERT_TRUE(string.IsString());
        VString copy;
        string.GetString(copy);
        const std::string expected = ToStd(copy);
        string.SetUndefined();
        EXPECT_EQ(BlockCount(copy), 2u);
        value.SetUndefined();
        EXPECT_EQ(BlockCount(copy), 1u);
        EXPECT_EQ(ToStd(copy), expected);
    }
}

TEST(JSONImporter, ATreeReadBeforeAnotherByTheSameImporterKeepsExactCounts)
{
    // The second value read by one importer does not count its names into
    // the blocks of the first tree, which the caller may have handed on.
    VJSONImporter importer(VString(R"({"key":1} {"key":2} {"key":3})"), 0);
    VJSONValue a(JSON_undefined);
    VJSONValue b(JSON_undefined);
    ASSERT_EQ(importer.Parse(a), VE_OK);
    const VString fromA = FirstName(a);
    ASSERT_EQ(importer.Parse(b), VE_OK);
    const VString fromB = FirstName(b);
    EXPECT_EQ(ToStd(fromA), "key");
    EXPECT_EQ(ToStd(fromB), "key");
    EXPECT_NE(fromA.GetCPointer(), fromB.GetCPointer());
    a.SetUndefined();
    EXPECT_EQ(BlockCount(fromA), 1u);
    b.SetUndefined();
    VJSONValue c(JSON_undefined);
    ASSERT_EQ(importer.Parse(c), VE_OK);
    EXPECT_EQ(JSONOf(c), R"({"key":3})");
    // Only the copy, once the importer has dropped the names it kept.
    EXPECT_EQ(BlockCount(fromB), 1u);
}

TEST(JSONImporter, ContainersNestedEveryWayKeepTheirMembersInOrderAndANameReadTwiceKeepsItsFirstPlace)
{
    // An array's elements and an object's members are held aside until the
    // container ends; the containers inside it hold theirs aside meanwhile.
    const std::string tenNames = R"({"k0":0,"k1":1,"k2":2,"k3":3,"k4":4,"k5":5,"k6":6,"k7":7,"k8":8,"k9":9)";
    struct Case {
        std::string text;
        std::string json;
    };
    const std::vector<Case> cases = {
        {R"([[1,[2,[3]],4],{"x":{"y":[5,{"z":6}]},"w":7},8])", R"([[1,[2,[3]],4],{"x":{"y":[5,{"z":6}]},"w":7},8])"},
        {R"({"a":[],"b":{},"c":[{}],"d":[[],[[]]]})", R"({"a":[],"b":{},"c":[{}],"d":[[],[[]]]})"},
        {R"({"a":1,"b":2,"a":3})", R"({"a":3,"b":2})"},
        {R"({"a":{"a":1,"a":[2]},"a":{"b":3}})", R"({"a":{"b":3}})"},
        {tenNames + R"(,"k3":"again","k10":10})",
         R"({"k0":0,"k1":1,"k2":2,"k3":"again","k4":4,"k5":5,"k6":6,"k7":7,"k8":8,"k9":9,"k10":10})"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        VJSONValue value = Parse(c.text.c_str());
        EXPECT_EQ(JSONOf(value), c.json);
    }
    // The names of a large object are found by their index, before and
    // after the object changes.
    VJSONValue value = Parse((tenNames + "}").c_str());
    VJSONObject* object = value.GetObject();
    ASSERT_NE(object, nullptr);
    object->SetProperty(VString("k10"), VJSONValue(10.0));
    object->RemoveProperty(VString("k0"));
    for (int i = 1; i <= 10; ++i) {
        SCOPED_TRACE(i);
        VString name("k");
        name.AppendLong(i);
        EXPECT_EQ(object->GetOwnProperty(name).GetNumber(), static_cast<double>(i));
    }
    EXPECT_TRUE(object->GetOwnProperty(VString("k0")).IsUndefined());
}

TEST(JSONImporter, NumbersReadFromTheTextEqualTheGeneralReader)
{
    // The reader's quick conversion of plain decimals and the general
    // reader it leaves the other words to agree with VString::GetReal.
    const char* words[] = {"0", "-0", "7", "-12", "0.5", "-0.25e1", "1e5", "1E+5", "2e-3", "123456789012345678",
                           "12345678901234567890123456789012345678901234567890123456789012345678901234567890",
                           "0.1", "3.141592653589793238462643383279", "1e308", "1e309", "-1e400", "1e-307",
                           "2.2250738585072014e-308", "4.9e-324", "1e-400", "0e-999", "0.000", "-", "-.5",
                           // around the exact short form: 2^53 and one above, powers of ten up to
                           // 22 and beyond, 19 and 20 digits, digits that the point and the
                           // exponent move together, leading zeros, the long digit runs
                           "9007199254740992", "9007199254740993", "-9007199254740993", "9007199254740992e22",
                           "9007199254740993e-22", "1e22", "1e23", "-1e-22", "1e-23", "123456789e-22",
                           "1234567890123456789", "12345678901234567890", "18446744073709551616",
                           "0.30000000000000004", "-65.613616999999977", "-65.61361699999997", "12.5e-3",
                           "0.0000000000000000000000012345", "0.00000000000000000000", "1e+022", "1e0000000022",
                           "4.35", "8.3e-5", "12345678.12345678", "1234567812345678e-8", "99999999"};
    for (const char* word : words) {
        SCOPED_TRACE(word);
        VJSONValue value(JSON_undefined);
        ASSERT_EQ(VJSONImporter::ParseString(VString(word), value, 0), VE_OK);
        ASSERT_TRUE(value.IsNumber());
        const double expected = VString(word).GetReal();
        const double got = value.GetNumber();
        if (std::isnan(expected)) {
            EXPECT_TRUE(std::isnan(got));
        } else {
            EXPECT_EQ(got, expected);
            EXPECT_EQ(std::signbit(got), std::signbit(expected));
        }
    }
}

TEST(JSONImporter, GeneratedDecimalsEqualTheGeneralReader)
{
    // Decimals of 1 to 20 digits, the point anywhere and exponents around
    // the range a double holds powers of ten exactly in, read inside one
    // array, each the same double as the general reader gives its word.
    uint64_t state = 0x243F6A8885A308D3ull;
    auto next = [&state] {
        state ^= state << 13;
        state ^= state >> 7;
        state ^= state << 17;
        return state;
    };
    std::vector<std::string> words;
    for (int i = 0; i < 4000; ++i) {
        const int digits = 1 + static_cast<int>(next() % 20);
        std::string mantissa;
        for (int d = 0; d < digits; ++d)
            mantissa += static_cast<char>('0' + next() % 10);
        if (mantissa.size() > 1 && mantissa[0] == '0')
            mantissa[0] = '1';
        std::string word = (next() % 3 == 0) ? "-" : "";
        const int point = static_cast<int>(next() % (mantissa.size() + 1));
        if (point > 0 && point < static_cast<int>(mantissa.size()))
            mantissa.insert(static_cast<size_t>(point), 1, '.');
        word += mantissa;
        if (next() % 2 == 0) {
            word += 'e';
            word += std::to_string(static_cast<int>(next() % 61) - 30);
        }
        words.push_back(word);
    }
    std::string text = "[";
    for (const std::string& word : words)
        text += (text.size() > 1 ? "," : "") + word;
    text += "]";
    VJSONValue value(JSON_undefined);
    ASSERT_EQ(VJSONImporter::ParseString(VString(text.c_str()), value, 0), VE_OK);
    VJSONArray* array = value.GetArray();
    ASSERT_NE(array, nullptr);
    ASSERT_EQ(array->GetCount(), words.size());
    for (size_t i = 0; i < words.size(); ++i) {
        VJSONValue element(JSON_undefined);
        ASSERT_TRUE(array->GetAt(i, element));
        const double expected = VString(words[i].c_str()).GetReal();
        EXPECT_EQ(element.GetNumber(), expected) << words[i];
        EXPECT_EQ(std::signbit(element.GetNumber()), std::signbit(expected)) << words[i];
    }
}

TEST(JSONImporter, ManyNamesAndNamesThatHashAlikeStayTheirOwn)
{
    // Hundreds of names, met in turn in several objects, and names that
    // agree in length, first and last four units: each member keeps its own
    // name however the reader shares them.
    struct Case {
        const char* label;
        std::vector<std::string> names;
    };
    std::vector<std::string> many;
    std::vector<std::string> alike;
    for (int i = 0; i < 700; ++i)
        many.push_back("name" + std::to_string(i));
    for (char c = 'a'; c <= 'h'; ++c)
        alike.push_back(std::string("head") + c + "tail");
    const std::vector<Case> cases = {{"many", many}, {"alike", alike}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.label);
        std::string object = "{";
        for (size_t i = 0; i < c.names.size(); ++i)
            object += (i > 0 ? ",\"" : "\"") + c.names[i] + "\":" + std::to_string(i);
        object += "}";
        const std::string text = "[" + object + "," + object + "," + object + "]";
        VJSONValue value = Parse(text.c_str());
        EXPECT_EQ(JSONOf(value), text);
    }
}

}  // namespace
}  // namespace qelt
