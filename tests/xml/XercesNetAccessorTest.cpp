#include <gtest/gtest.h>

#include <xercesc/util/BinInputStream.hpp>
#include <xercesc/util/PlatformUtils.hpp>
#include <xercesc/util/XMLNetAccessor.hpp>
#include <xercesc/util/XMLURL.hpp>
#include <xercesc/util/XMLString.hpp>

#include <string>

namespace {

using namespace XERCES_CPP_NAMESPACE;

// The parser's network accessor is the stand-in linked ahead of the
// library's: any URL that is not a local file is refused at once, as an
// unsupported protocol, and nothing is fetched or resolved.
TEST(XercesNetAccessor, EveryNetworkURLIsRefusedAsAnUnsupportedProtocol)
{
    ASSERT_NE(XMLPlatformUtils::fgNetAccessor, nullptr);
    for (const char* text : {"http://127.0.0.1:9/entity.dtd", "https://localhost/entity.dtd", "ftp://localhost/x"}) {
        XMLCh* urlText = XMLString::transcode(text);
        XMLURL url(urlText);
        bool refused = false;
        try {
            BinInputStream* stream = XMLPlatformUtils::fgNetAccessor->makeNew(url);
            delete stream;
        } catch (const MalformedURLException& e) {
            refused = e.getCode() == XMLExcepts::URL_UnsupportedProto;
        }
        XMLString::release(&urlText);
        EXPECT_TRUE(refused) << text;
    }
}

}  // namespace
