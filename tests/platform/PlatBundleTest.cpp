#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "TestSupport.h"
#include "platform/PlatBundle.h"

using namespace qelt::plat;

TEST(PlatBundle, ReadsTopLevelScalars)
{
    const std::string text =
        "\xEF\xBB\xBF<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
        "<!DOCTYPE plist PUBLIC \"-//Apple//DTD PLIST 1.0//EN\" \"http://www.apple.com/DTDs/PropertyList-1.0.dtd\">\n"
        "<!-- a comment -->\n"
        "<plist version=\"1.0\">\n"
        "<dict>\n"
        "  <key>CFBundleExecutable</key>\n  <string>Tool</string>\n"
        "  <key>Escaped</key><string>a &amp; b &lt;c&gt; &quot;d&quot; &apos;e&apos; &#233;&#x20AC;</string>\n"
        "  <key>Cdata</key><string><![CDATA[<raw> & text]]></string>\n"
        "  <key>Empty</key><string/>\n"
        "  <key>Count</key><integer> 42 </integer>\n"
        "  <key>Ratio</key><real>1.5</real>\n"
        "  <key>Yes</key><true/>\n"
        "  <key>No</key><false/>\n"
        "  <key>List</key><array><string>x</string><dict><key>k</key><string>v</string></dict><array/></array>\n"
        "  <key>Nested</key><dict><key>CFBundleExecutable</key><string>Inner</string></dict>\n"
        "  <key>Bytes</key><data>AAEC</data>\n"
        "</dict>\n"
        "</plist>\n";
    PlistValues values;
    ASSERT_TRUE(ParsePlistText(text, values));
    EXPECT_EQ(values["CFBundleExecutable"], "Tool");
    EXPECT_EQ(values["Escaped"], "a & b <c> \"d\" 'e' \xC3\xA9\xE2\x82\xAC");
    EXPECT_EQ(values["Cdata"], "<raw> & text");
    EXPECT_EQ(values.count("Empty"), 1u);
    EXPECT_EQ(values["Empty"], "");
    EXPECT_EQ(values["Count"], "42");
    EXPECT_EQ(values["Ratio"], "1.5");
    EXPECT_EQ(values["Yes"], "true");
    EXPECT_EQ(values["No"], "false");
    EXPECT_EQ(values.count("List"), 0u);
    EXPECT_EQ(values.count("Nested"), 0u);
    EXPECT_EQ(values.count("Bytes"), 0u);
    EXPECT_EQ(values.count("k"), 0u);
}

TEST(PlatBundle, RefusesMalformedText)
{
    const char* bad[] = {
        "",
        "not xml at all",
        "<plist><array/></plist>",
        "<plist><dict><key>a</key><string>unterminated",
        "<plist><dict><key>a</key><string>x</strin></dict></plist>",
        "<plist><dict><key>a</key><string>&bogus;</string></dict></plist>",
        "<plist><dict><key>a</key><string>&#0;</string></dict></plist>",
        "<plist><dict><key>a</key><string>&#xD800;</string></dict></plist>",
        "<plist><dict><string>no key</string></dict></plist>",
        "<plist><dict><key>a</key><unknown>1</unknown></dict></plist>",
        "<!-- unterminated comment <plist><dict/></plist>",
        "<plist><dict><key>a</key><string><![CDATA[open</string></dict></plist>",
    };
    for (const char* text : bad) {
        PlistValues values;
        EXPECT_FALSE(ParsePlistText(text, values)) << text;
        EXPECT_TRUE(values.empty()) << text;
    }
    // Nesting far beyond what a property list needs is refused, not followed.
    std::string deep = "<plist><dict><key>a</key>";
    for (int i = 0; i < 10000; ++i)
        deep += "<array>";
    PlistValues values;
    EXPECT_FALSE(ParsePlistText(deep, values));
    // An empty root dictionary is a valid list with no values.
    EXPECT_TRUE(ParsePlistText("<plist version=\"1.0\"><dict/></plist>", values));
    EXPECT_TRUE(values.empty());
}

TEST(PlatBundle, ReadsFilesAndSingleValues)
{
    std::string folder = qelt::test::MakeTempFolder("bundle");
    std::string path = folder + "/Info.plist";
    {
        std::ofstream out(path);
        out << "<plist><dict><key>MemoryAllocator</key><string>qelt</string></dict></plist>";
    }
    std::string value;
    EXPECT_TRUE(GetPlistFileValue(path, "MemoryAllocator", value));
    EXPECT_EQ(value, "qelt");
    EXPECT_FALSE(GetPlistFileValue(path, "Missing", value));
    EXPECT_FALSE(GetPlistFileValue(folder + "/none.plist", "MemoryAllocator", value));
    PlistValues values;
    EXPECT_FALSE(ReadPlistFile(folder, values));  // a folder is no property list
}

TEST(PlatBundle, BundleOfAnExecutable)
{
    struct Case {
        const char* exe;
        const char* bundle;
    };
    const Case cases[] = {
        {"/x/Tool.app/Contents/MacOS/Tool", "/x/Tool.app"},
        {"/Applications/My App.app/Contents/MacOS/My App", "/Applications/My App.app"},
        {"/a/Contents/MacOS/MacOS", "/a"},
        {"/usr/bin/tool", ""},
        {"/x/Tool.app/Contents/Resources/Tool", ""},
        {"/x/Tool.app/contents/MacOS/Tool", ""},
        {"/Contents/MacOS/Tool", ""},
        {"Contents/MacOS/Tool", ""},
        {"/x/Tool.app/Contents/MacOS/", ""},
        {"tool", ""},
        {"", ""},
    };
    for (const Case& c : cases)
        EXPECT_EQ(BundlePathOfExecutable(c.exe), c.bundle) << c.exe;
}

TEST(PlatBundle, BundleLayoutAndProgramOutsideABundle)
{
    std::string app = qelt::test::MakeTempFolder("apps") + "/Tool.app";
    std::string contents = app + "/Contents";
    std::filesystem::create_directories(contents + "/MacOS");
    {
        std::ofstream out(contents + "/Info.plist");
        out << "<plist><dict><key>CFBundleExecutable</key><string>Tool</string></dict></plist>";
    }
    std::string value;
    EXPECT_TRUE(GetBundleInfoValue(app, "CFBundleExecutable", value));
    EXPECT_EQ(value, "Tool");
    EXPECT_FALSE(GetBundleInfoValue("", "CFBundleExecutable", value));

    // The test program does not run from inside a bundle.
    EXPECT_FALSE(GetExecutablePath().empty());
    EXPECT_TRUE(GetMainBundlePath().empty());
    EXPECT_TRUE(GetMainBundleInfoPlistPath().empty());
    EXPECT_FALSE(GetMainBundleInfoValue("CFBundleExecutable", value));
    EXPECT_EQ(GetMainBundleResourcesFolder(), GetExecutableFolder());
    EXPECT_EQ(GetExecutablePath().rfind(GetExecutableFolder() + "/", 0), 0u);
}

TEST(PlatBundle, KeepsTheStringsOfTopLevelArraysWhenAsked)
{
    const std::string text =
        "<plist><dict><key>CFBundleLocalizations</key><array><string>English</string><integer>3</integer>"
        "<array><string>nested</string></array><string>fr&amp;co</string></array>"
        "<key>Empty</key><array/><key>Name</key><string>App</string>"
        "<key>Sub</key><dict><key>Inner</key><array><string>no</string></array></dict></dict></plist>";
    PlistValues values;
    PlistArrays arrays;
    ASSERT_TRUE(ParsePlistText(text, values, &arrays));
    EXPECT_EQ(values["Name"], "App");
    EXPECT_EQ(arrays["CFBundleLocalizations"], (std::vector<std::string>{"English", "fr&co"}));
    EXPECT_EQ(arrays.count("Inner"), 0u);
    EXPECT_FALSE(ParsePlistText("<plist><dict><key>A</key><array><string>x</array></dict></plist>", values, &arrays));
    EXPECT_TRUE(arrays.empty());
}
