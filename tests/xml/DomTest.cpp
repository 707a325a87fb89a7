// DOM documents behind opaque handles: parsing from memory, walking into
// bags, editing, IDs and namespaces, serialising with CR line ends.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "TestSupport.h"
#include "XMLTestSupport.h"
#include "files/VFile.h"
#include "kernel/VLong.h"
#include "runtime/VErrorContext.h"
#include "values/VBlob.h"
#include "values/VValueBag.h"
#include "xml/IXMLDomWrapper.h"
#include "xml/VXMLParser.h"

using namespace qelt;
using qelt::test::Attribute;
using qelt::test::Utf8;

namespace {

// A parsed document, released at the end of the scope.
class StDocument {
public:
    explicit StDocument(const std::string& inText)
        : fNode(IXMLDomWrapper::CreateNodeDocumentFromBuffer(inText.data(), inText.size(), nullptr))
    {
    }
    ~StDocument() { IXMLDomWrapper::ReleaseNode(fNode); }
    StDocument(const StDocument&) = delete;
    StDocument& operator=(const StDocument&) = delete;

    VXMLDOMNode_opaque* Node() const { return fNode; }
    VXMLDOMElement_opaque* Root() const { return IXMLDomWrapper::GetRootNodeElement(fNode); }

private:
    VXMLDOMNode_opaque* fNode;
};

std::string Serialize(VXMLDOMNode_opaque* inNode)
{
    VBlobWithPtr blob;
    size_t size = 0;
    EXPECT_TRUE(IXMLDomWrapper::SerializeToBlob(inNode, &blob, 0, size, false));
    return std::string(static_cast<const char*>(blob.GetDataPtr()), size);
}

}  // namespace

TEST(XMLDom, ADocumentReadsIntoABagAndBack)
{
    StDocument document("<root a=\"1\"><child b=\"2\">text</child><child/></root>");
    ASSERT_NE(document.Node(), nullptr);
    VValueBag bag;
    EXPECT_EQ(ReadBagFromDomXML(IXMLDomWrapper::GetNodeFromNodeElement(document.Root()), bag), VError(0));
    EXPECT_EQ(Attribute(bag, "a"), "1");
    EXPECT_EQ(bag.GetElementNamesCount(), 1);

    // Not an element: 'xmlc' 2.
    VValueBag other;
    EXPECT_EQ(ReadBagFromDomXML(document.Node(), other), MakeVError(kSignatureXMLC, 2));

    // The bag written into a new element of another document.
    StDocument target("<copy/>");
    std::vector<VXMLDOMNode_opaque*> created;
    EXPECT_EQ(WriteBagToDomXML(bag, IXMLDomWrapper::GetNodeFromNodeElement(target.Root()), &created), VError(0));
    EXPECT_EQ(created.size(), 2u);
    EXPECT_EQ(Serialize(target.Node()),
              "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"no\" ?><copy a=\"1\"><child b=\"2\"/><child/></copy>");
    EXPECT_EQ(WriteBagToDomXML(bag, target.Node(), nullptr), QeltError(3));
}

// A program that makes a document before it starts the library (or after it
// shut it down) gets the document, and it serialises. The test runs in a
// fresh process where the test program's own start-up of the library is
// undone.
TEST(XMLDom, ADocumentIsMadeWhenNoOneStartedTheLibrary)
{
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(
        {
            VXMLParser::DeInit();
            bool ok = false;
            {
                StDocument document("<root a=\"1\"/>");
                ok = document.Node() != nullptr && Serialize(document.Node()).find("<root a=\"1\"/>") != std::string::npos;
            }
            std::exit(ok ? 0 : 1);
        },
        ::testing::ExitedWithCode(0), "");
}

TEST(XMLDom, SerialisingGivesCRLineEnds)
{
    StDocument document("<r>\n<a>one\r\ntwo</a>\n</r>");
    ASSERT_NE(document.Node(), nullptr);
    const std::string text = Serialize(document.Node());
    EXPECT_EQ(text.find('\n'), std::string::npos) << text;
    EXPECT_NE(text.find("<r>\r<a>one\rtwo</a>\r</r>"), std::string::npos) << text;

    // Another encoding is copied as it is.
    StDocument latin("<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?><r>\n\xE9</r>");
    ASSERT_NE(latin.Node(), nullptr);
    const std::string bytes = Serialize(latin.Node());
    EXPECT_NE(bytes.find("<r>\n\xE9</r>"), std::string::npos) << bytes;
}

TEST(XMLDom, IDsAndPrefixedAttributesResolveThroughTheElementsScope)
{
    StDocument document("<root xmlns:x=\"urn:x\"><a/><b/></root>");
    ASSERT_NE(document.Node(), nullptr);
    VXMLDOMNode_opaque* a = IXMLDomWrapper::GetChildNode(IXMLDomWrapper::GetNodeFromNodeElement(document.Root()), 0);
    VXMLDOMNode_opaque* b = IXMLDomWrapper::GetChildNode(IXMLDomWrapper::GetNodeFromNodeElement(document.Root()), 1);
    ASSERT_NE(a, nullptr);
    ASSERT_NE(b, nullptr);

    bool isID = false;
    EXPECT_TRUE(IXMLDomWrapper::SetNodeElementAttribute(IXMLDomWrapper::GetNodeElement(a), VString("id"),
                                                        VString("first"), false, &isID));
    EXPECT_TRUE(isID);
    EXPECT_TRUE(IXMLDomWrapper::SetNodeElementAttribute(IXMLDomWrapper::GetNodeElement(b), VString("x:id"),
                                                        VString("second"), false, &isID));
    EXPECT_TRUE(isID);
    EXPECT_EQ(IXMLDomWrapper::FindNodeElementByID(document.Node(), VString("first")), IXMLDomWrapper::GetNodeElement(a));
    EXPECT_EQ(IXMLDomWrapper::FindNodeElementByID(document.Node(), VString("second")),
              IXMLDomWrapper::GetNodeElement(b));
    EXPECT_EQ(IXMLDomWrapper::FindNodeElementByID(document.Node(), VString("none")), nullptr);

    // The xml prefix needs no declaration.
    EXPECT_TRUE(IXMLDomWrapper::SetNodeElementAttribute(document.Root(), VString("xml:lang"), VString("fr"), false,
                                                        nullptr));
    VString value;
    EXPECT_TRUE(IXMLDomWrapper::GetNodeElementAttribute(document.Root(), VString("xml:lang"), value));
    EXPECT_EQ(Utf8(value), "fr");
    EXPECT_NE(Serialize(document.Node()).find("xml:lang=\"fr\""), std::string::npos);

    // Removing an empty value, and names the library refuses.
    EXPECT_TRUE(IXMLDomWrapper::SetNodeElementAttribute(document.Root(), VString("xml:lang"), VString(), true,
                                                        nullptr));
    EXPECT_FALSE(IXMLDomWrapper::GetNodeElementAttribute(document.Root(), VString("xml:lang"), value));
    EXPECT_FALSE(IXMLDomWrapper::SetNodeElementAttribute(document.Root(), VString("1 bad"), VString("v"), false,
                                                         nullptr));
    EXPECT_EQ(IXMLDomWrapper::AddNodeElement(document.Root(), VString("<no>")), nullptr);
}

TEST(XMLDom, ElementValuesAreSetAndRead)
{
    StDocument document("<root><e><inner/></e><n/></root>");
    ASSERT_NE(document.Node(), nullptr);
    VXMLDOMElement_opaque* e = IXMLDomWrapper::GetNodeElement(
        IXMLDomWrapper::GetChildNode(IXMLDomWrapper::GetNodeFromNodeElement(document.Root()), 0));
    IXMLDomWrapper::SetNodeElementValue(e, VString("42"));
    EXPECT_EQ(IXMLDomWrapper::GetNumberOfChildrenNodes(IXMLDomWrapper::GetNodeFromNodeElement(e)), 1u);
    EXPECT_EQ(IXMLDomWrapper::GetNodeElementValueLong(e), 42);
    IXMLDomWrapper::SetNodeElementValue(e, 2.5);
    EXPECT_DOUBLE_EQ(IXMLDomWrapper::GetNodeElementValueReal(e), 2.5);
    IXMLDomWrapper::SetNodeElementValue(e, static_cast<unsigned char>(1));
    EXPECT_TRUE(IXMLDomWrapper::GetNodeElementValueBoolean(e));

    VXMLDOMElement_opaque* n = IXMLDomWrapper::GetNodeElement(
        IXMLDomWrapper::GetChildNode(IXMLDomWrapper::GetNodeFromNodeElement(document.Root()), 1));
    EXPECT_EQ(IXMLDomWrapper::GetNodeElementValueLong(n), 0);
    EXPECT_FALSE(IXMLDomWrapper::GetNodeElementValueBoolean(n));

    VXMLDOMElement_opaque* added = IXMLDomWrapper::AddNodeElement(document.Root(), VString("count"), 7);
    ASSERT_NE(added, nullptr);
    EXPECT_EQ(IXMLDomWrapper::GetNodeElementValueLong(added), 7);
    VLong value(9);
    added = IXMLDomWrapper::AddNodeElement(document.Root(), VString("v"), &value);
    EXPECT_EQ(IXMLDomWrapper::GetNodeElementValueLong(added), 9);
    VString name;
    IXMLDomWrapper::GetNodeElementName(added, name);
    EXPECT_EQ(Utf8(name), "v");

    // A copy keeps the content and its own life.
    VXMLDOMNode_opaque* copy = IXMLDomWrapper::CloneNodeDocument(document.Node());
    ASSERT_NE(copy, nullptr);
    EXPECT_EQ(Serialize(copy), Serialize(document.Node()));
    IXMLDomWrapper::ReleaseNode(copy);
}

TEST(XMLDom, BadBuffersGiveNoDocumentAndAnError)
{
    const std::string deep = [] {
        std::string text;
        for (int i = 0; i < 300; ++i)
            text += "<e>";
        for (int i = 0; i < 300; ++i)
            text += "</e>";
        return text;
    }();
    const std::string cases[] = {
        "<root><a></root>",
        "",
        deep,
        "<!DOCTYPE r [<!ENTITY ext SYSTEM \"file:///etc/hostname\">]><r>&ext;</r>",
    };
    for (const std::string& text : cases) {
        StErrorContextInstaller errors(true, false);
        StDocument document(text);
        EXPECT_EQ(document.Node(), nullptr) << text.substr(0, 40);
        EXPECT_FALSE(errors.GetContext()->IsEmpty()) << text.substr(0, 40);
    }
}

TEST(XMLDom, AFileIsWrittenWholeBesideTheOldOne)
{
    const std::string folder = qelt::test::MakeTempFolder("domfiles");
    const std::string path = folder + "/doc.xml";
    std::ofstream(path) << "old";
    VFile file(VString(path.c_str()), FPS_POSIX);
    StDocument document("<r>\n<a/>\n</r>");
    ASSERT_NE(document.Node(), nullptr);
    EXPECT_TRUE(IXMLDomWrapper::WriteToFile(document.Node(), file, false));
    std::ifstream in(path);
    const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    EXPECT_EQ(text, Serialize(document.Node()));
    EXPECT_EQ(text.find('\n'), std::string::npos);

    // A folder in the way: false, the folder kept, nothing left beside.
    const std::string blocked = folder + "/blocked.xml";
    std::filesystem::create_directory(blocked);
    VFile blockedFile(VString(blocked.c_str()), FPS_POSIX);
    StErrorContextInstaller errors(true, false);
    EXPECT_FALSE(IXMLDomWrapper::WriteToFile(document.Node(), blockedFile, false));
    EXPECT_TRUE(std::filesystem::is_directory(blocked));
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(folder), std::filesystem::directory_iterator()), 2);
}
