#include <gtest/gtest.h>

#include "JSONTextTestSupport.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "TestSupport.h"
#include "files/VFile.h"
#include "json/json.h"
#include "kernel/VString.h"
#include "platform/PlatFaults.h"
#include "runtime/VErrorBase.h"
#include "runtime/VErrorContext.h"
#include "values/VValueBag.h"

namespace qelt {
namespace {

using test::Parse;
using test::ToStd;
using test::Write;


std::string ReadAll(const std::string& inPath)
{
    std::ifstream in(inPath, std::ios::binary);
    std::stringstream buffer;
    buffer << in.rdbuf();
    return buffer.str();
}

void WriteAll(const std::string& inPath, const std::string& inText)
{
    std::ofstream out(inPath, std::ios::binary);
    out << inText;
}

VFile FileAt(const std::string& inPath) { return VFile(VString(inPath.c_str()), FPS_POSIX); }

size_t EntriesIn(const std::string& inFolder)
{
    size_t count = 0;
    for (const auto& entry : std::filesystem::directory_iterator(inFolder)) {
        (void)entry;
        ++count;
    }
    return count;
}

TEST(JSONFiles, SavedValuesLoadBack)
{
    const std::string folder = test::MakeTempFolder("json_files");
    const std::string path = folder + "/value.json";
    VFile file = FileAt(path);
    VJSONValue value(JSON_undefined);
    ASSERT_EQ(VJSONImporter::ParseString(VString("{\"a\":[1,\"\xC3\xA9\",0.30000000000000004],\"d\":\"2024-02-29\"}"),
                                         value, 0),
              VE_OK);
    ASSERT_EQ(value.SaveToFile(&file, 0x1), VE_OK);
    EXPECT_EQ(ReadAll(path), "{\"a\":[1,\"\xC3\xA9\",0.30000000000000004],\"d\":\"2024-02-29\"}");
    EXPECT_EQ(EntriesIn(folder), 1u);  // no temporary file is left

    VJSONValue back(JSON_undefined);
    ASSERT_EQ(back.LoadFromFile(&file, false), VE_OK);
    EXPECT_FALSE(back.GetProperty(VString("d")).IsDate());
    ASSERT_EQ(back.LoadFromFile(&file, true), VE_OK);
    EXPECT_TRUE(back.GetProperty(VString("d")).IsDate());
    EXPECT_EQ(back.GetProperty(VString("a")).GetArray()->GetAt(2).GetNumber(), 0.1 + 0.2);

    VJSONValue none(1.0);
    EXPECT_EQ(VJSONImporter::ParseFile(nullptr, none, 0), VE_OK);
    EXPECT_TRUE(none.IsUndefined());
    EXPECT_EQ(VJSONWriter::StringifyValueToFile(nullptr, value, 0x1), VE_OK);
}

TEST(JSONFiles, AFailedSaveKeepsTheOldFile)
{
    StErrorContextInstaller errors(false);
    const std::string folder = test::MakeTempFolder("json_keep");
    const std::string path = folder + "/keep.json";
    WriteAll(path, "{\"old\":true}");
    VFile file = FileAt(path);
    VJSONValue loop(JSON_object);
    loop.SetProperty(VString("self"), loop);
    EXPECT_EQ(loop.SaveToFile(&file, 0x1), QeltError(900));
    EXPECT_EQ(ReadAll(path), "{\"old\":true}");
    loop.GetObject()->RemoveProperty(VString("self"));

    // A write or a rename that fails leaves the old content and no new file.
    if (!plat::kFaultInjection)
        GTEST_SKIP() << "built without fault injection";
    for (const char* rules : {"write:1+:ENOSPC", "open:1:EACCES", "rename:1:EIO"}) {
        SCOPED_TRACE(rules);
        {
            test::StTestFaults faults(rules);
            EXPECT_NE(VJSONValue(1.0).SaveToFile(&file, 0x1), VE_OK);
        }
        EXPECT_EQ(ReadAll(path), "{\"old\":true}");
        EXPECT_EQ(EntriesIn(folder), 1u);
    }
}

TEST(JSONFiles, ParseReportsNameTheFile)
{
    StErrorContextInstaller errors(false);
    const std::string folder = test::MakeTempFolder("json_report");
    const std::string path = folder + "/bad.json";
    WriteAll(path, "{\n  \"a\": 1,\n  \"b\" 2\n}");
    VFile file = FileAt(path);
    VJSONValue value(JSON_undefined);
    EXPECT_EQ(VJSONImporter::ParseFile(&file, value, 0x3), QeltError(550));
    EXPECT_TRUE(value.IsUndefined());
    VErrorBase* last = errors.GetContext()->GetLast();
    ASSERT_NE(last, nullptr);
    VString source;
    last->GetBag()->GetAttribute(StPackedDictionaryKey("source"), source);
    EXPECT_EQ(ToStd(source), path + ", ");

    // A file that cannot be read answers its read error, the value untouched.
    VFile missing = FileAt(folder + "/none.json");
    VJSONValue kept(5.0);
    VError error = VJSONImporter::ParseFile(&missing, kept, 0);
    EXPECT_NE(error, VE_OK);
    EXPECT_NE(error, QeltError(550));
    EXPECT_EQ(kept.GetNumber(), 5.0);
}

TEST(JSONFiles, FileContentAsJSON)
{
    const std::string folder = test::MakeTempFolder("json_content");
    const std::string path = folder + "/c.json";
    WriteAll(path, "\xEF\xBB\xBF{\"d\":\"!!2024-02-29!!\",\"i\":\"2024-02-29\"}");
    VFile file = FileAt(path);
    VJSONValue value(JSON_undefined);
    ASSERT_EQ(file.GetContentAsJSON(value, VTC_UTF_8), VE_OK);
    // Its option 0x200 alone reads no date: both stay strings.
    EXPECT_TRUE(value.GetProperty(VString("d")).IsString());
    EXPECT_TRUE(value.GetProperty(VString("i")).IsString());

    VJSONValue date(JSON_date);
    date.SetDate(2024, 2, 29);
    value.SetProperty(VString("d"), date);
    ASSERT_EQ(file.SetContentAsJSON(value, VTC_UTF_8, eCRM_NONE, false), VE_OK);
    EXPECT_EQ(ReadAll(path), "{\"d\":\"2024-02-29T00:00:00.000Z\",\"i\":\"2024-02-29\"}");
    EXPECT_EQ(EntriesIn(folder), 1u);
}

}  // namespace
}  // namespace qelt
