// Value bags written as XML and read back from texts and streams.
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>

#include "TestSupport.h"
#include "XMLTestSupport.h"
#include "files/VFile.h"
#include "files/VFolder.h"
#include "files/VConstPtrStream.h"
#include "files/VPtrStream.h"
#include "kernel/VLong.h"
#include "runtime/VErrorContext.h"
#include "values/VBagArray.h"
#include "values/VValueBag.h"
#include "xml/VXMLBagHandler.h"
#include "xml/VXMLParser.h"

using namespace qelt;
using qelt::test::Attribute;
using qelt::test::Utf8;

namespace {

VRefPtr<VValueBag> SampleBag()
{
    VRefPtr<VValueBag> bag = AdoptRef(new VValueBag);
    bag->SetAttribute(StPackedDictionaryKey("a"), VLong(1));
    bag->SetAttribute(StPackedDictionaryKey("b"), VString("x"));
    VRefPtr<VValueBag> child = AdoptRef(new VValueBag);
    bag->AddElement(StPackedDictionaryKey("child"), child.Get());
    return bag;
}

std::string Dump(const VValueBag& inBag)
{
    VString text;
    inBag.DumpXML(text, VString("root"), false);
    return Utf8(text);
}

}  // namespace

TEST(XMLBags, ABagReadsBackWithItsAttributesAsStrings)
{
    VRefPtr<VValueBag> bag = SampleBag();
    VString text("<?xml version=\"1.0\" encoding=\"UTF-8\"?>");
    bag->DumpXML(text, VString("root"), false);
    EXPECT_EQ(Utf8(text), "<?xml version=\"1.0\" encoding=\"UTF-8\"?><root a=\"1\" b=\"x\">\n<child/></root>");

    VValueBag read;
    EXPECT_EQ(LoadBagFromXML(text, VString("root"), read, 2), VError(0));
    EXPECT_EQ(Dump(read), Dump(*bag));
    ASSERT_NE(read.GetNthAttribute(1, nullptr), nullptr);
    EXPECT_EQ(read.GetNthAttribute(1, nullptr)->GetValueInfo()->GetKind(), VK_STRING);
    EXPECT_EQ(Attribute(read, "a"), "1");
}

TEST(XMLBags, TheRootElementDecidesWhatIsRead)
{
    const VString document("<?pi data?><!-- c --><root a=\"1\">one<![CDATA[&two]]><!-- x -->three<k/></root>");
    struct Case {
        const char* rootName;
        const char* expected;
    };
    const Case cases[] = {
        {"root", "<root a=\"1\"><![CDATA[one&two]]><![CDATA[three]]>\n<k/></root>"},
        {"", "<root a=\"1\"><![CDATA[one&two]]><![CDATA[three]]>\n<k/></root>"},
        {"other", "<root/>"},
    };
    for (const Case& c : cases) {
        VValueBag bag;
        StErrorContextInstaller errors(true, false);
        EXPECT_EQ(LoadBagFromXML(document, VString(c.rootName), bag, 2), VError(0)) << c.rootName;
        VString cdata;
        if (std::strcmp(c.rootName, "other") == 0) {
            EXPECT_TRUE(bag.IsEmpty());
        } else {
            EXPECT_EQ(Attribute(bag, "a"), "1");
            EXPECT_TRUE(bag.GetAttribute(VValueBag::CDataAttributeName(), cdata));
            EXPECT_EQ(Utf8(cdata), "one&twothree") << c.rootName;
            EXPECT_EQ(bag.GetElementNamesCount(), 1);
        }
    }
}

TEST(XMLBags, AParseErrorIsAnsweredAndWhatCameBeforeStays)
{
    VValueBag bag;
    StErrorContextInstaller outer(true, false);
    const VError error = LoadBagFromXML(VString("<root a=\"1\"><k b=\"2\"/><broken></root>"), VString(), bag, 2);
    EXPECT_EQ(error, MakeVError(kSignatureXMLC, 3));
    EXPECT_EQ(outer.GetContext()->GetErrorsCount(), 1u);
    EXPECT_EQ(Attribute(bag, "a"), "1");
    EXPECT_EQ(bag.GetElementNamesCount(), 2);
}

TEST(XMLBags, TheStreamFormRoundTripsAndAnotherVersionReadsNothing)
{
    VRefPtr<VValueBag> bag = SampleBag();
    VRefPtr<VValueBag> text = AdoptRef(new VValueBag);
    text->AppendToCData(VString("text with <markup> & ]]> inside"));
    bag->AddElement(StPackedDictionaryKey("text"), text.Get());
    for (bool swap : {false, true}) {
        VPtrStream stream;
        stream.SetNeedSwap(swap);
        ASSERT_EQ(stream.OpenWriting(), VError(0));
        ASSERT_EQ(WriteBagToStreamInXML(*bag, &stream), VError(0));
        stream.CloseWriting();
        const unsigned char* bytes = static_cast<const unsigned char*>(stream.GetDataPtr());
        EXPECT_EQ(bytes[swap ? 3 : 0], 1);

        ASSERT_EQ(stream.OpenReading(), VError(0));
        VValueBag read;
        EXPECT_EQ(ReadBagFromStreamInXML(read, &stream), VError(0));
        stream.CloseReading();
        EXPECT_EQ(Dump(read), Dump(*bag)) << swap;
    }

    const unsigned char version2[] = {2, 0, 0, 0, 9, 9, 9, 9};
    VConstPtrStream stream(version2, sizeof(version2));
    ASSERT_EQ(stream.OpenReading(), VError(0));
    VValueBag untouched;
    EXPECT_EQ(ReadBagFromStreamInXML(untouched, &stream), VError(0));
    EXPECT_TRUE(untouched.IsEmpty());
    EXPECT_EQ(stream.GetPos(), 4);

    // A stream that ends early gives the stream's error.
    const unsigned char truncated[] = {1, 0, 0, 0, 40, 0};
    VConstPtrStream shortStream(truncated, sizeof(truncated));
    ASSERT_EQ(shortStream.OpenReading(), VError(0));
    StErrorContextInstaller errors(true, false);
    EXPECT_NE(ReadBagFromStreamInXML(untouched, &shortStream), VError(0));
    EXPECT_TRUE(untouched.IsEmpty());
}

TEST(XMLBags, TheLayoutBeforeChildrenDoesNotGrowTheText)
{
    VRefPtr<VValueBag> bag = SampleBag();
    bag->AppendToCData(VString("a & b"));
    VRefPtr<VValueBag> blank = AdoptRef(new VValueBag);
    blank->AppendToCData(VString(" "));
    bag->AddElement(StPackedDictionaryKey("blank"), blank.Get());
    for (bool indented : {false, true}) {
        VRefPtr<VValueBag> current = bag;
        for (int round = 0; round < 3; ++round) {
            VString text;
            current->DumpXML(text, VString("root"), indented);
            VRefPtr<VValueBag> read = AdoptRef(new VValueBag);
            EXPECT_EQ(LoadBagFromXML(text, VString("root"), *read, 2), VError(0));
            current = read;
        }
        EXPECT_EQ(Dump(*current), Dump(*bag)) << indented;
        VString cdata;
        current->GetAttribute(VValueBag::CDataAttributeName(), cdata);
        EXPECT_EQ(Utf8(cdata), "a & b") << indented;
    }

    // Blanks are text where there is no child element.
    VValueBag spaces;
    EXPECT_EQ(LoadBagFromXML(VString("<r>  </r>"), VString(), spaces, 2), VError(0));
    VString cdata;
    EXPECT_TRUE(spaces.GetAttribute(VValueBag::CDataAttributeName(), cdata));
    EXPECT_EQ(Utf8(cdata), "  ");
}

TEST(XMLBags, AFileIsReplacedWholeOrLeftAsItWas)
{
    const std::string folder = qelt::test::MakeTempFolder("bagfiles");
    const std::string path = folder + "/link.xml";
    std::ofstream(path) << "old content";
    VFile file(VString(path.c_str()), FPS_POSIX);

    VRefPtr<VValueBag> bag = SampleBag();
    EXPECT_EQ(WriteBagToFileInXML(*bag, VString("root"), &file, false), VError(0));
    std::ifstream in(path);
    const std::string written((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    EXPECT_EQ(written, "<?xml version=\"1.0\" encoding=\"UTF-8\"?><root a=\"1\" b=\"x\">\n<child/></root>");

    VValueBag read;
    EXPECT_EQ(LoadBagFromXML(&file, VString("root"), read, 2), VError(0));
    EXPECT_EQ(Dump(read), Dump(*bag));

    // A target that cannot be replaced (a folder) stays, and nothing is
    // left beside it.
    const std::string blocked = folder + "/blocked.xml";
    std::filesystem::create_directory(blocked);
    std::ofstream(blocked + "/keep") << "kept";
    VFile blockedFile(VString(blocked.c_str()), FPS_POSIX);
    {
        StErrorContextInstaller errors(true, false);
        EXPECT_NE(WriteBagToFileInXML(*bag, VString("root"), &blockedFile, true), VError(0));
    }
    EXPECT_TRUE(std::filesystem::exists(blocked + "/keep"));
    int entries = 0;
    for (const auto& entry : std::filesystem::directory_iterator(folder)) {
        (void)entry;
        ++entries;
    }
    EXPECT_EQ(entries, 2);

    EXPECT_EQ(WriteBagToFileInXML(*bag, VString("root"), nullptr, false), VError(0));

    // A missing file to read: the file layer's error, the bag untouched.
    VFile missing(VString((folder + "/missing.xml").c_str()), FPS_POSIX);
    VValueBag none;
    StErrorContextInstaller errors(true, false);
    EXPECT_NE(LoadBagFromXML(&missing, VString(), none, 2), VError(0));
    EXPECT_TRUE(none.IsEmpty());
}

TEST(XMLBags, ExternalEntitiesAreReadOnlyFromInsideTheirFolder)
{
    const std::string root = qelt::test::MakeTempFolder("entities");
    std::filesystem::create_directories(root + "/local/sub");
    std::ofstream(root + "/local/inside.txt") << "INSIDE";
    std::ofstream(root + "/local/sub/deeper.txt") << "DEEPER";
    std::ofstream(root + "/secret.txt") << "SECRET";
    VRefPtr<VFolder> folder = AdoptRef(new VFolder(VString((root + "/local/").c_str()), FPS_POSIX));
    const VString prefix("ents/");

    struct Case {
        const char* systemID;
        const char* expected;  // the bag's text, or null when the parse fails
    };
    const Case cases[] = {
        {"ents/inside.txt", "INSIDE"},
        {"ents/sub/deeper.txt", "DEEPER"},
        {"ents/../secret.txt", nullptr},
        {"ents/sub/../../secret.txt", nullptr},
        {"ents//inside.txt", nullptr},
        {"ents/sub//deeper.txt", nullptr},
        {"inside.txt", nullptr},
        {"file:///etc/hostname", nullptr},
    };
    for (const Case& c : cases) {
        const std::string document =
            std::string("<!DOCTYPE r [<!ENTITY e SYSTEM \"") + c.systemID + "\">]><r>[&e;]</r>";
        VValueBag bag;
        StErrorContextInstaller errors(true, false);
        const VError error = LoadBagFromXML(VString(document.c_str()), VString("r"), bag, 2, &prefix, folder.Get());
        VString cdata;
        bag.GetAttribute(VValueBag::CDataAttributeName(), cdata);
        if (c.expected != nullptr) {
            EXPECT_EQ(error, VError(0)) << c.systemID;
            EXPECT_EQ(Utf8(cdata), std::string("[") + c.expected + "]") << c.systemID;
        } else {
            EXPECT_NE(error, VError(0)) << c.systemID;
            EXPECT_EQ(Utf8(cdata).find("SECRET"), std::string::npos) << c.systemID;
        }
    }

    // The folder lookup itself.
    VRefPtr<VFile> found = AdoptRef(VXMLParser::ResolveEntityFromFolder(prefix, folder.Get(), VString("ents/a/b.txt")));
    ASSERT_TRUE(found);
    VString path;
    found->GetPlatformPath(path, FPS_POSIX);
    EXPECT_EQ(Utf8(path), root + "/local/a/b.txt");
    for (const char* refused : {"ents/", "ents//x", "ents/a/", "ents/../x", "other/x", "ents/x/.."})
        EXPECT_EQ(VXMLParser::ResolveEntityFromFolder(prefix, folder.Get(), VString(refused)), nullptr) << refused;
    EXPECT_EQ(VXMLParser::ResolveEntityFromFolder(prefix, nullptr, VString("ents/x")), nullptr);
}

// A program that reads XML before it starts the library (or after it shut it
// down) gets its bag, from a file as from a text. The reads run in a fresh
// process where the test program's own start-up of the library is undone.
TEST(XMLBags, AReaderStartsTheLibraryWhenNoOneHas)
{
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    const std::string folder = qelt::test::MakeTempFolder("bagstart");
    const std::string path = folder + "/bag.xml";
    std::ofstream(path) << "<?xml version=\"1.0\" encoding=\"UTF-8\"?><root a=\"1\"><child/></root>";
    for (bool fromFile : {true, false}) {
        EXPECT_EXIT(
            {
                VXMLParser::DeInit();
                VValueBag bag;
                VFile file(VString(path.c_str()), FPS_POSIX);
                const VError error = fromFile ? LoadBagFromXML(&file, VString("root"), bag, 0)
                                              : LoadBagFromXML(VString("<root a=\"1\"><child/></root>"),
                                                               VString("root"), bag, 0);
                std::exit(error == 0 && Attribute(bag, "a") == "1" && bag.GetElementNamesCount() == 1 ? 0 : 1);
            },
            ::testing::ExitedWithCode(0), "")
            << (fromFile ? "from a file" : "from a text");
    }
}

// Whatever a bag holds, its XML file reads back: a tab, line feed or
// carriage return in an attribute comes back as it was (a reader turns a raw
// one into a space, so it is written as a character reference), and a
// character that XML cannot hold at all (a control character, a lone
// surrogate, U+FFFE) is left out, as in the text of an element. A value
// without such characters is written exactly as before.
TEST(XMLBags, EveryValueReadsBackFromItsFile)
{
    struct Case {
        std::u16string value;
        std::u16string readBack;
        std::string written;  // the attribute's text in the file, when it is checked
    } cases[] = {
        {u"a&b<c>\"d'e", u"a&b<c>\"d'e", "a&amp;b&lt;c&gt;&quot;d&apos;e"},
        {u"\u00e9\u20ac\U0001F600 \u007f~", u"\u00e9\u20ac\U0001F600 \u007f~", "\xc3\xa9\xe2\x82\xac\xf0\x9f\x98\x80 \x7f~"},
        {u"a\tb\nc\rd\r\n", u"a\tb\nc\rd\r\n", "a&#x9;b&#xA;c&#xD;d&#xD;&#xA;"},
        {u"a\u0001b\u001fc\u000bd", u"abcd", "abcd"},
        {u"x\xd800y\xdc00z\U0001F600", u"xyz\U0001F600", ""},
        {u"\ufffe\uffff\ufffd", u"\ufffd", ""},
        {u"\u0001", u"", ""},
    };
    const std::string folder = qelt::test::MakeTempFolder("bagvalues");
    const std::string path = folder + "/bag.xml";
    VFile file(VString(path.c_str()), FPS_POSIX);
    for (const Case& c : cases) {
        const VString value = qelt::test::S(c.value);
        const std::string shown = Utf8(value);
        VValueBag bag;
        bag.SetAttribute(StPackedDictionaryKey("v"), value);
        VRefPtr<VValueBag> child = AdoptRef(new VValueBag);
        child->SetAttribute(VValueBag::CDataAttributeName(), value);
        bag.AddElement(StPackedDictionaryKey("t"), child.Get());
        ASSERT_EQ(WriteBagToFileInXML(bag, VString("root"), &file, false), VError(0)) << shown;

        std::ifstream in(path, std::ios::binary);
        const std::string written((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        if (!c.written.empty()) {
            EXPECT_NE(written.find("<root v=\"" + c.written + "\">"), std::string::npos) << written;
        }

        VValueBag read;
        StErrorContextInstaller errors(true, true);
        ASSERT_EQ(LoadBagFromXML(&file, VString("root"), read, 0), VError(0)) << shown << "\n" << written;
        VString attribute, text;
        read.GetAttribute(StPackedDictionaryKey("v"), attribute);
        EXPECT_EQ(qelt::test::Units(attribute), c.readBack) << shown;
        if (VBagArray* texts = read.GetElements(StPackedDictionaryKey("t")); texts != nullptr && texts->GetCount() == 1) {
            VRefPtr<VValueBag> element = AdoptRef(texts->RetainNth(1));
            element->GetAttribute(VValueBag::CDataAttributeName(), text);
            EXPECT_EQ(qelt::test::Units(text), c.readBack) << shown;
        } else {
            ADD_FAILURE() << "no text element: " << written;
        }
    }
}
