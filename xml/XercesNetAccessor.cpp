// The XML parser's network accessor, ours: it refuses every URL.
//
// Xerces-C is linked statically (see CMakeLists.txt). Its platform start-up
// makes a network accessor, which in the library is built on libcurl; that
// would load libcurl and the twenty-nine libraries it brings (TLS, Kerberos,
// LDAP, SSH, HTTP/2, IDN, ...) at every start of every program, although the
// toolbox never lets the parser fetch anything: entities are resolved only
// from the entities folder. These definitions of the accessor's members come
// first in the link, so the library's own (and libcurl with them) are left
// out. A URL that still reaches the parser fails as an unsupported protocol,
// as it would in a parser built without network access.
#include <xercesc/util/XMLURL.hpp>
#include <xercesc/util/NetAccessors/Curl/CurlNetAccessor.hpp>
#include <xercesc/util/XMLUniDefs.hpp>

#include "xml/XercesNetAccessor.h"

XERCES_CPP_NAMESPACE_BEGIN

int CurlNetAccessor::fgCurlInitCount = 0;
const XMLCh CurlNetAccessor::fgMyName[] = {chLatin_N, chLatin_o, chLatin_N, chLatin_e, chLatin_t, chNull};

CurlNetAccessor::CurlNetAccessor() {}

CurlNetAccessor::~CurlNetAccessor() {}

BinInputStream* CurlNetAccessor::makeNew(const XMLURL& urlSource, const XMLNetHTTPInfo*)
{
    ThrowXMLwithMemMgr(MalformedURLException, XMLExcepts::URL_UnsupportedProto, urlSource.getMemoryManager());
}

void CurlNetAccessor::initCurl() {}

void CurlNetAccessor::cleanupCurl() {}

XERCES_CPP_NAMESPACE_END

namespace qelt {

bool XercesNetAccessorRefusesURLs()
{
    return true;
}

}  // namespace qelt
