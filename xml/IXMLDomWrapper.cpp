#include "xml/IXMLDomWrapper.h"

#include <cstring>
#include <new>
#include <string>

#include <xercesc/dom/DOM.hpp>
#include <xercesc/framework/MemBufFormatTarget.hpp>
#include <xercesc/framework/MemBufInputSource.hpp>
#include <xercesc/framework/Wrapper4InputSource.hpp>
#include <xercesc/util/PlatformUtils.hpp>
#include <xercesc/util/SecurityManager.hpp>
#include <xercesc/util/XMLUni.hpp>

#include "files/VFile.h"
#include "files/VFileStream.h"
#include "files/VURL.h"
#include "kernel/VBoolean.h"
#include "kernel/VLong.h"
#include "kernel/VReal.h"
#include "runtime/VErrorBase.h"
#include "runtime/VErrorContext.h"
#include "values/VBagArray.h"
#include "values/VBlob.h"
#include "values/VDuration.h"
#include "values/VTime.h"
#include "values/VValueBag.h"
#include "xml/IXMLHandler.h"
#include "xml/VXMLBagHandler.h"
#include "xml/VXMLParser.h"
#include "xml/XMLFileReplace.h"
#include "xml/XercesStart.h"

namespace qelt {

namespace {

using namespace xercesc;

DOMNode* N(VXMLDOMNode_opaque* inNode)
{
    return reinterpret_cast<DOMNode*>(inNode);
}

DOMElement* E(VXMLDOMElement_opaque* inElement)
{
    return reinterpret_cast<DOMElement*>(inElement);
}

VXMLDOMNode_opaque* ToNode(DOMNode* inNode)
{
    return reinterpret_cast<VXMLDOMNode_opaque*>(inNode);
}

VXMLDOMElement_opaque* ToElement(DOMElement* inElement)
{
    return reinterpret_cast<VXMLDOMElement_opaque*>(inElement);
}

// Runs the work and answers the fallback when the library (or memory)
// throws.
template <class R, class F>
R Guarded(R inFallback, F&& inWork)
{
    try {
        return inWork();
    } catch (...) {
        return inFallback;
    }
}

template <class F>
void Guarded(F&& inWork)
{
    try {
        inWork();
    } catch (...) {
    }
}

// A zero-terminated copy of the string's units.
std::u16string X(const VString& inText)
{
    return std::u16string(reinterpret_cast<const char16_t*>(inText.GetCPointer()),
                          static_cast<size_t>(inText.GetLength()));
}

VString V(const XMLCh* inText)
{
    VString text;
    if (inText != nullptr)
        text.FromUniString(reinterpret_cast<const UniChar*>(inText), static_cast<int>(XMLString::stringLen(inText)));
    return text;
}

const XMLCh kLS[] = {'L', 'S', 0};
const XMLCh kUTF8[] = {'U', 'T', 'F', '-', '8', 0};
const XMLCh kNewLine[] = {'\n', 0};
const XMLCh kBlob[] = {'B', 'l', 'o', 'b', 0};

DOMImplementationLS* Implementation()
{
    // Documents may be made before anyone started the library.
    StartXercesOnce();
    return dynamic_cast<DOMImplementationLS*>(DOMImplementationRegistry::getDOMImplementation(kLS));
}

// A qualified name split at its first colon (counted only from position 2),
// with the namespace its prefix resolves to in the element's scope; the
// prefixes xml and xmlns resolve to their reserved names when nothing binds
// them.
struct QualifiedName {
    std::u16string fName;
    std::u16string fLocalName;
    const XMLCh* fNamespace = nullptr;
};

QualifiedName Resolve(const DOMElement* inElement, const std::u16string& inName)
{
    QualifiedName result;
    result.fName = inName;
    const size_t colon = inName.find(u':');
    if (colon == std::u16string::npos || colon == 0 || inElement == nullptr)
        return result;
    const std::u16string prefix = inName.substr(0, colon);
    const XMLCh* uri = inElement->lookupNamespaceURI(prefix.c_str());
    if (uri == nullptr && prefix == u"xml")
        uri = XMLUni::fgXMLURIName;
    if (uri == nullptr && prefix == u"xmlns")
        uri = XMLUni::fgXMLNSURIName;
    if (uri != nullptr) {
        result.fNamespace = uri;
        result.fLocalName = inName.substr(colon + 1);
    }
    return result;
}

// Raises the library's DOM parse errors as 'xmlc' 2 and 3.
class DOMErrors : public DOMErrorHandler {
public:
    bool handleError(const DOMError& inError) override
    {
        const short severity = inError.getSeverity();
        if (severity == DOMError::DOM_SEVERITY_WARNING)
            return true;
        DOMLocator* where = inError.getLocation();
        const int line = where != nullptr ? static_cast<int>(where->getLineNumber()) : 0;
        const int column = where != nullptr ? static_cast<int>(where->getColumnNumber()) : 0;
        fFailed = true;
        ThrowXMLError(severity == DOMError::DOM_SEVERITY_FATAL_ERROR ? 3 : 2, V(inError.getMessage()),
                      where != nullptr ? V(where->getURI()) : VString(), VString(), line, column);
        return severity != DOMError::DOM_SEVERITY_FATAL_ERROR;
    }

    bool fFailed = false;
};

bool WalkNode(DOMNode* inNode, IXMLHandler* inHandler, int inDepth);

bool WalkElement(DOMElement* inElement, IXMLHandler* inHandler, int inDepth)
{
    if (inDepth > VXMLParser::kMaxDepth)
        return false;
    const VString name = V(inElement->getNodeName());
    VRefPtr<IXMLHandler> child = AdoptRef(inHandler->StartElement(name));
    if (!child)
        return false;
    DOMNamedNodeMap* attributes = inElement->getAttributes();
    const XMLSize_t count = attributes != nullptr ? attributes->getLength() : 0;
    for (XMLSize_t i = 0; i < count; ++i) {
        DOMNode* attribute = attributes->item(i);
        child->SetAttribute(V(attribute->getNodeName()), V(attribute->getNodeValue()));
    }
    const bool result = WalkNode(inElement, child.Get(), inDepth);
    child->EndElement(name);
    return result;
}

bool WalkNode(DOMNode* inNode, IXMLHandler* inHandler, int inDepth)
{
    bool result = true;
    for (DOMNode* child = inNode->getFirstChild(); child != nullptr; child = child->getNextSibling()) {
        switch (child->getNodeType()) {
            case DOMNode::ELEMENT_NODE:
                result = WalkElement(static_cast<DOMElement*>(child), inHandler, inDepth + 1);
                break;
            case DOMNode::TEXT_NODE:
            case DOMNode::CDATA_SECTION_NODE:
                inHandler->SetText(V(child->getNodeValue()));
                break;
            case DOMNode::PROCESSING_INSTRUCTION_NODE: {
                auto* instruction = static_cast<DOMProcessingInstruction*>(child);
                if (instruction->getTarget() != nullptr && instruction->getData() != nullptr)
                    inHandler->processingInstruction(V(instruction->getTarget()), V(instruction->getData()));
                break;
            }
            default:
                break;
        }
    }
    return result;
}

DOMDocument* DocumentOf(DOMNode* inNode)
{
    if (inNode == nullptr)
        return nullptr;
    if (inNode->getNodeType() == DOMNode::DOCUMENT_NODE)
        return static_cast<DOMDocument*>(inNode);
    return inNode->getOwnerDocument();
}

// The depth of the node's element ancestors, the node included.
int Depth(DOMNode* inNode)
{
    int depth = 0;
    for (DOMNode* node = inNode; node != nullptr; node = node->getParentNode())
        if (node->getNodeType() == DOMNode::ELEMENT_NODE)
            ++depth;
    return depth;
}

// Whether some element lies deeper than the limit, walked in document order
// without recursion.
bool TooDeep(DOMNode* inRoot, int inLimit)
{
    int depth = 0;
    DOMNode* node = inRoot;
    while (node != nullptr) {
        DOMNode* child = node->getFirstChild();
        if (child != nullptr) {
            node = child;
            ++depth;
            if (depth > inLimit)
                return true;
            continue;
        }
        while (node != inRoot && node->getNextSibling() == nullptr) {
            node = node->getParentNode();
            --depth;
        }
        if (node == inRoot)
            break;
        node = node->getNextSibling();
    }
    return false;
}

void AppendText(DOMElement* inElement, const VString& inText)
{
    DOMDocument* document = inElement->getOwnerDocument();
    if (document != nullptr)
        inElement->appendChild(document->createTextNode(X(inText).c_str()));
}

VString FirstChildValue(DOMElement* inElement, DOMNode::NodeType inType)
{
    if (inElement == nullptr)
        return VString();
    DOMNode* first = inElement->getFirstChild();
    if (first == nullptr || first->getNodeType() != inType)
        return VString();
    return V(first->getNodeValue());
}

VString XMLText(const VValueSingle& inValue, unsigned int inOptions)
{
    VString text;
    inValue.GetXMLString(text, inOptions);
    return text;
}

bool WriteBag(const VValueBag& inBag, DOMElement* inElement, std::vector<VXMLDOMNode_opaque*>* outCreatedNodes,
              int inDepth)
{
    DOMDocument* document = inElement->getOwnerDocument();
    if (document == nullptr || inDepth > VValueBag::kMaxDepth)
        return false;
    VString name, text;
    for (int i = 1; i <= inBag.GetAttributesCount(); ++i) {
        const VValueSingle* value = inBag.GetNthAttribute(i, &name);
        if (value == nullptr)
            continue;
        if (value->GetValueInfo()->GetKind() == VK_STRING) {
            value->GetString(text);
        } else {
            value->GetXMLString(text, 1);
            text.TranscodeFromXML();
        }
        IXMLDomWrapper::SetNodeElementAttribute(ToElement(inElement), name, text, false, nullptr);
    }
    for (int n = 1; n <= inBag.GetElementNamesCount(); ++n) {
        VBagArray* children = inBag.GetNthElementName(n, &name);
        if (children == nullptr)
            continue;
        const std::u16string qualified = X(name);
        for (int i = 1; i <= children->GetCount(); ++i) {
            VRefPtr<VValueBag> child = AdoptRef(children->RetainNth(i));
            if (!child)
                continue;
            VXMLDOMElement_opaque* created = IXMLDomWrapper::CreateElement(
                reinterpret_cast<VXMLDOMDocument_opaque*>(document), ToElement(inElement),
                reinterpret_cast<const UniChar*>(qualified.c_str()));
            if (created == nullptr)
                return false;
            if (outCreatedNodes != nullptr)
                outCreatedNodes->push_back(ToNode(E(created)));
            inElement->appendChild(E(created));
            if (!WriteBag(*child, E(created), outCreatedNodes, inDepth + 1))
                return false;
        }
    }
    return true;
}

}  // namespace

// ---- Walking ---------------------------------------------------------------

bool IXMLDomWrapper::Parse(VXMLDOMNode_opaque* inNode, IXMLHandler* inHandler)
{
    if (inNode == nullptr || inHandler == nullptr)
        return false;
    return Guarded(false, [&] {
        DOMNode* node = N(inNode);
        if (node->getNodeType() == DOMNode::ELEMENT_NODE)
            return WalkElement(static_cast<DOMElement*>(node), inHandler, Depth(node));
        return WalkNode(node, inHandler, Depth(node));
    });
}

bool IXMLDomWrapper::DOMParseNode(VXMLDOMNode_opaque* inNode, IXMLHandler* inHandler)
{
    if (inNode == nullptr || inHandler == nullptr)
        return false;
    return Guarded(false, [&] { return WalkNode(N(inNode), inHandler, Depth(N(inNode))); });
}

bool IXMLDomWrapper::DOMParseElement(VXMLDOMElement_opaque* inElement, IXMLHandler* inHandler)
{
    if (inElement == nullptr || inHandler == nullptr)
        return false;
    return Guarded(false, [&] { return WalkElement(E(inElement), inHandler, Depth(E(inElement))); });
}

// ---- Queries ---------------------------------------------------------------

size_t IXMLDomWrapper::GetNumberOfChildrenNodes(VXMLDOMNode_opaque* inNode)
{
    return Guarded(size_t(0), [&] { return static_cast<size_t>(N(inNode)->getChildNodes()->getLength()); });
}

VXMLDOMNode_opaque* IXMLDomWrapper::GetChildNode(VXMLDOMNode_opaque* inNode, int inIndex)
{
    if (inIndex < 0)
        return nullptr;
    return Guarded(static_cast<VXMLDOMNode_opaque*>(nullptr),
                   [&] { return ToNode(N(inNode)->getChildNodes()->item(static_cast<XMLSize_t>(inIndex))); });
}

void IXMLDomWrapper::GetNodeElementName(VXMLDOMElement_opaque* inElement, VString& outName)
{
    outName.Clear();
    if (inElement != nullptr)
        Guarded([&] { outName = V(E(inElement)->getNodeName()); });
}

VXMLDOMElement_opaque* IXMLDomWrapper::GetNodeElement(VXMLDOMNode_opaque* inNode)
{
    if (inNode == nullptr || N(inNode)->getNodeType() != DOMNode::ELEMENT_NODE)
        return nullptr;
    return ToElement(static_cast<DOMElement*>(N(inNode)));
}

VXMLDOMNode_opaque* IXMLDomWrapper::GetNodeFromNodeElement(VXMLDOMElement_opaque* inElement)
{
    return reinterpret_cast<VXMLDOMNode_opaque*>(inElement);
}

VXMLDOMDocument_opaque* IXMLDomWrapper::GetNodeDocument(VXMLDOMNode_opaque* inNode)
{
    return Guarded(static_cast<VXMLDOMDocument_opaque*>(nullptr),
                   [&] { return reinterpret_cast<VXMLDOMDocument_opaque*>(DocumentOf(N(inNode))); });
}

VXMLDOMElement_opaque* IXMLDomWrapper::GetRootNodeElement(VXMLDOMNode_opaque* inNode)
{
    return Guarded(static_cast<VXMLDOMElement_opaque*>(nullptr), [&] {
        DOMDocument* document = DocumentOf(N(inNode));
        return document != nullptr ? ToElement(document->getDocumentElement()) : nullptr;
    });
}

VXMLDOMElement_opaque* IXMLDomWrapper::FindNodeElementByID(VXMLDOMNode_opaque* inNode, const VString& inID)
{
    return Guarded(static_cast<VXMLDOMElement_opaque*>(nullptr), [&] {
        DOMDocument* document = DocumentOf(N(inNode));
        return document != nullptr ? ToElement(document->getElementById(X(inID).c_str())) : nullptr;
    });
}

void IXMLDomWrapper::RegisterNodeIDs(VXMLDOMNode_opaque* inNode)
{
    Guarded([&] {
        DOMDocument* document = DocumentOf(N(inNode));
        if (document == nullptr)
            return;
        DOMNode* node = document;
        while (node != nullptr) {
            if (node->getNodeType() == DOMNode::ELEMENT_NODE) {
                auto* element = static_cast<DOMElement*>(node);
                DOMNamedNodeMap* attributes = element->getAttributes();
                const XMLSize_t count = attributes != nullptr ? attributes->getLength() : 0;
                for (XMLSize_t i = 0; i < count; ++i) {
                    const std::u16string name = reinterpret_cast<const char16_t*>(attributes->item(i)->getNodeName());
                    QualifiedName qualified = Resolve(element, name);
                    if (qualified.fNamespace != nullptr) {
                        if (qualified.fLocalName == u"id")
                            element->setIdAttributeNS(qualified.fNamespace, qualified.fLocalName.c_str(), true);
                    } else if (name == u"id") {
                        element->setIdAttribute(name.c_str(), true);
                    }
                }
            }
            if (node->getFirstChild() != nullptr) {
                node = node->getFirstChild();
                continue;
            }
            while (node != nullptr && node != document && node->getNextSibling() == nullptr)
                node = node->getParentNode();
            node = (node == nullptr || node == document) ? nullptr : node->getNextSibling();
        }
    });
}

bool IXMLDomWrapper::GetDocumentURL(VXMLDOMNode_opaque* inNode, VURL& outURL)
{
    return Guarded(false, [&] {
        DOMDocument* document = DocumentOf(N(inNode));
        if (document == nullptr || document->getDocumentURI() == nullptr)
            return false;
        const VString uri = V(document->getDocumentURI());
        outURL.FromString(uri, !uri.BeginsWith(VString("file://"), false));
        return outURL.IsValid();
    });
}

// ---- Documents -------------------------------------------------------------

VXMLDOMNode_opaque* IXMLDomWrapper::CloneNodeDocument(VXMLDOMNode_opaque* inDocumentNode)
{
    if (inDocumentNode == nullptr)
        return nullptr;
    VXMLDOMDocument_opaque* copy = CloneNodeDocument(reinterpret_cast<VXMLDOMDocument_opaque*>(
        Guarded(static_cast<DOMDocument*>(nullptr), [&] { return DocumentOf(N(inDocumentNode)); })));
    // A document handle and its node handle differ: the node is a base of
    // the document.
    return ToNode(reinterpret_cast<DOMDocument*>(copy));
}

VXMLDOMDocument_opaque* IXMLDomWrapper::CloneNodeDocument(VXMLDOMDocument_opaque* inDocument)
{
    if (inDocument == nullptr)
        return nullptr;
    return Guarded(static_cast<VXMLDOMDocument_opaque*>(nullptr), [&] {
        auto* document = reinterpret_cast<DOMDocument*>(inDocument);
        auto* copy = static_cast<DOMDocument*>(document->cloneNode(true));
        if (copy != nullptr)
            copy->setDocumentURI(document->getDocumentURI());
        return reinterpret_cast<VXMLDOMDocument_opaque*>(copy);
    });
}

void IXMLDomWrapper::ReleaseNode(VXMLDOMNode_opaque* inNode)
{
    if (inNode != nullptr)
        Guarded([&] { N(inNode)->release(); });
}

VXMLDOMNode_opaque* IXMLDomWrapper::CreateNodeDocumentFromBuffer(const void* inData, size_t inSize,
                                                                 const VString* inSystemID)
{
    static const XMLByte kEmpty[1] = {0};
    const XMLByte* bytes = inData != nullptr ? static_cast<const XMLByte*>(inData) : kEmpty;
    if (inData == nullptr)
        inSize = 0;
    DOMDocument* document = nullptr;
    try {
        DOMImplementationLS* implementation = Implementation();
        if (implementation == nullptr)
            return nullptr;
        SecurityManager security;
        security.setEntityExpansionLimit(VXMLParser::kMaxEntityExpansions);
        DOMErrors errors;
        DOMLSParser* parser =
            implementation->createLSParser(DOMImplementationLS::MODE_SYNCHRONOUS, nullptr, XMLPlatformUtils::fgMemoryManager);
        try {
            DOMConfiguration* config = parser->getDomConfig();
            config->setParameter(XMLUni::fgDOMEntities, true);
            config->setParameter(XMLUni::fgDOMNamespaces, true);
            config->setParameter(XMLUni::fgXercesValidationErrorAsFatal, true);
            config->setParameter(XMLUni::fgXercesContinueAfterFatalError, false);
            config->setParameter(XMLUni::fgDOMValidate, false);
            config->setParameter(XMLUni::fgXercesLoadExternalDTD, false);
            config->setParameter(XMLUni::fgXercesUserAdoptsDOMDocument, true);
            config->setParameter(XMLUni::fgXercesDisableDefaultEntityResolution, true);
            config->setParameter(XMLUni::fgXercesSecurityManager, &security);
            config->setParameter(XMLUni::fgDOMErrorHandler, static_cast<DOMErrorHandler*>(&errors));
            const std::u16string systemID = inSystemID != nullptr ? X(*inSystemID) : std::u16string(kBlob);
            MemBufInputSource source(bytes, inSize, systemID.c_str(), false);
            Wrapper4InputSource input(&source, false);
            document = parser->parse(&input);
        } catch (...) {
            parser->release();
            throw;
        }
        parser->release();
        if (document != nullptr && errors.fFailed) {
            // A document the library gave up on is only the part before the
            // fault: no document.
            document->release();
            document = nullptr;
        }
        if (document != nullptr && TooDeep(document, VXMLParser::kMaxDepth)) {
            ThrowXMLError(3, VString("elements are nested too deep"),
                          inSystemID != nullptr ? *inSystemID : VString("Blob"), VString(), 0, 0);
            document->release();
            document = nullptr;
        }
    } catch (...) {
        if (document != nullptr)
            Guarded([&] { document->release(); });
        return nullptr;
    }
    return ToNode(document);
}

// ---- Serialising -----------------------------------------------------------

bool IXMLDomWrapper::SerializeToBlob(VXMLDOMNode_opaque* inNode, VBlob* inBlob, int inOffset, size_t& outSize,
                                     bool inPrettyPrint)
{
    outSize = 0;
    if (inNode == nullptr || inBlob == nullptr)
        return false;
    return Guarded(false, [&] {
        DOMDocument* document = DocumentOf(N(inNode));
        DOMImplementationLS* implementation = Implementation();
        if (document == nullptr || implementation == nullptr)
            return false;
        DOMLSSerializer* serializer = implementation->createLSSerializer();
        if (serializer == nullptr)
            return false;
        DOMLSOutput* output = implementation->createLSOutput();
        bool ok = false;
        try {
            DOMConfiguration* config = serializer->getDomConfig();
            if (config->canSetParameter(XMLUni::fgDOMWRTFormatPrettyPrint, inPrettyPrint))
                config->setParameter(XMLUni::fgDOMWRTFormatPrettyPrint, inPrettyPrint);
            config->setParameter(XMLUni::fgDOMWRTBOM, false);
            const XMLCh* declared = document->getXmlEncoding();
            output->setEncoding(declared != nullptr && *declared != 0 ? declared : kUTF8);
            const VString encoding = V(output->getEncoding());
            serializer->setNewLine(kNewLine);
            MemBufFormatTarget target(1023);
            output->setByteStream(&target);
            serializer->write(N(inNode), output);
            ok = CopyMemBufFormatTargetToBlob(inBlob, inOffset, outSize,
                                              reinterpret_cast<VXMLMemBufFormatTarget_opaque*>(&target), encoding,
                                              true);
        } catch (...) {
            ok = false;
        }
        output->release();
        serializer->release();
        return ok;
    });
}

bool IXMLDomWrapper::SerializeToFile(VXMLDOMNode_opaque* inNode, VFileStream& ioStream, size_t& outSize,
                                     bool inPrettyPrint)
{
    VBlobWithPtr blob;
    if (!SerializeToBlob(inNode, &blob, 0, outSize, inPrettyPrint))
        return false;
    return ioStream.PutData(blob.GetDataPtr(), static_cast<unsigned long>(outSize)) == 0;
}

bool IXMLDomWrapper::WriteToFile(VXMLDOMNode_opaque* inNode, const VFile& inFile, bool inPrettyPrint)
{
    VBlobWithPtr blob;
    size_t size = 0;
    if (!SerializeToBlob(inNode, &blob, 0, size, inPrettyPrint))
        return false;
    return WriteFileBesideAndRename(inFile, [&](const VFile& inTemp) {
               return inTemp.SetContent(blob.GetDataPtr(), size);
           }) == 0;
}

bool IXMLDomWrapper::CopyMemBufFormatTargetToBlob(VBlob* inBlob, int inOffset, size_t& outSize,
                                                  VXMLMemBufFormatTarget_opaque* inTarget, const VString& inEncoding,
                                                  bool inConvertLineEnds)
{
    outSize = 0;
    if (inBlob == nullptr || inTarget == nullptr)
        return false;
    auto* target = reinterpret_cast<MemBufFormatTarget*>(inTarget);
    const XMLByte* bytes = target->getRawBuffer();
    const size_t length = target->getLen();

    size_t unit = 0;
    if (inConvertLineEnds) {
        if (inEncoding.EqualToString(VString("UTF-8"), false))
            unit = 1;
        else if (inEncoding.EqualToString(VString("UTF-16"), false))
            unit = 2;
        else
            for (const char* name : {"UTF-32", "UCS4", "UCS-4", "UCS_4"})
                if (inEncoding.EqualToString(VString(name), false))
                    unit = 4;
    }
    std::string converted;
    if (unit != 0) {
        try {
            converted.reserve(length);
        } catch (const std::bad_alloc&) {
            _ThrowError(QeltError(5));
            return false;
        }
        // LF becomes CR, CR LF one CR; a lone CR stays.
        auto unitAt = [&](size_t inPos) {
            unsigned int value = 0;
            std::memcpy(&value, bytes + inPos, unit);
            return value;
        };
        const size_t whole = length - length % unit;
        for (size_t pos = 0; pos < whole; pos += unit) {
            const unsigned int value = unitAt(pos);
            if (value == '\n') {
                const unsigned int cr = '\r';
                converted.append(reinterpret_cast<const char*>(&cr), unit);
                continue;
            }
            if (value == '\r' && pos + unit < whole && unitAt(pos + unit) == '\n') {
                converted.append(reinterpret_cast<const char*>(bytes + pos), unit);
                pos += unit;
                continue;
            }
            converted.append(reinterpret_cast<const char*>(bytes + pos), unit);
        }
        converted.append(reinterpret_cast<const char*>(bytes + whole), length - whole);
    }
    const void* data = unit != 0 ? static_cast<const void*>(converted.data()) : static_cast<const void*>(bytes);
    const size_t size = unit != 0 ? converted.size() : length;
    const VError error = inBlob->PutData(data, static_cast<long long>(size), inOffset);
    if (error != 0)
        return false;
    outSize = size;
    return true;
}

// ---- Editing ---------------------------------------------------------------

VXMLDOMElement_opaque* IXMLDomWrapper::CreateElement(VXMLDOMDocument_opaque* inDocument,
                                                     VXMLDOMElement_opaque* inParentElement,
                                                     const UniChar* inQualifiedName)
{
    if (inDocument == nullptr || inQualifiedName == nullptr)
        return nullptr;
    return Guarded(static_cast<VXMLDOMElement_opaque*>(nullptr), [&] {
        auto* document = reinterpret_cast<DOMDocument*>(inDocument);
        const std::u16string name = reinterpret_cast<const char16_t*>(inQualifiedName);
        if (inParentElement != nullptr) {
            const size_t colon = name.find(u':');
            const XMLCh* uri = nullptr;
            if (colon == std::u16string::npos)
                uri = E(inParentElement)->lookupNamespaceURI(nullptr);
            else
                uri = Resolve(E(inParentElement), name).fNamespace;
            if (uri != nullptr)
                return ToElement(document->createElementNS(uri, name.c_str()));
        }
        return ToElement(document->createElement(name.c_str()));
    });
}

VXMLDOMElement_opaque* IXMLDomWrapper::AddNodeElement(VXMLDOMElement_opaque* inElement, const VString& inName)
{
    if (inElement == nullptr)
        return nullptr;
    return Guarded(static_cast<VXMLDOMElement_opaque*>(nullptr), [&]() -> VXMLDOMElement_opaque* {
        DOMDocument* document = E(inElement)->getOwnerDocument();
        if (document == nullptr)
            return nullptr;
        const std::u16string name = X(inName);
        VXMLDOMElement_opaque* child = CreateElement(reinterpret_cast<VXMLDOMDocument_opaque*>(document), inElement,
                                                     reinterpret_cast<const UniChar*>(name.c_str()));
        if (child != nullptr)
            E(inElement)->appendChild(E(child));
        return child;
    });
}

VXMLDOMElement_opaque* IXMLDomWrapper::AddNodeElement(VXMLDOMElement_opaque* inElement, const VString& inName,
                                                      const VString& inValue)
{
    VXMLDOMElement_opaque* child = AddNodeElement(inElement, inName);
    if (child != nullptr && !Guarded(false, [&] {
            AppendText(E(child), inValue);
            return true;
        }))
        return nullptr;
    return child;
}

VXMLDOMElement_opaque* IXMLDomWrapper::AddNodeElement(VXMLDOMElement_opaque* inElement, const VString& inName,
                                                      const VTime& inValue, unsigned int inOptions)
{
    return AddNodeElement(inElement, inName, XMLText(inValue, inOptions));
}

VXMLDOMElement_opaque* IXMLDomWrapper::AddNodeElement(VXMLDOMElement_opaque* inElement, const VString& inName,
                                                      const VDuration& inValue, unsigned int inOptions)
{
    return AddNodeElement(inElement, inName, XMLText(inValue, inOptions));
}

VXMLDOMElement_opaque* IXMLDomWrapper::AddNodeElement(VXMLDOMElement_opaque* inElement, const VString& inName,
                                                      double inValue)
{
    return AddNodeElement(inElement, inName, XMLText(VReal(inValue), 1));
}

VXMLDOMElement_opaque* IXMLDomWrapper::AddNodeElement(VXMLDOMElement_opaque* inElement, const VString& inName,
                                                      unsigned char inValue)
{
    return AddNodeElement(inElement, inName, XMLText(VBoolean(inValue != 0), 1));
}

VXMLDOMElement_opaque* IXMLDomWrapper::AddNodeElement(VXMLDOMElement_opaque* inElement, const VString& inName,
                                                      int inValue)
{
    VString text;
    text.FromLong(inValue);
    return AddNodeElement(inElement, inName, text);
}

VXMLDOMElement_opaque* IXMLDomWrapper::AddNodeElement(VXMLDOMElement_opaque* inElement, const VString& inName,
                                                      const VValueSingle* inValue)
{
    if (inValue == nullptr)
        return nullptr;
    switch (inValue->GetValueInfo()->GetKind()) {
        case VK_BOOLEAN:
            return AddNodeElement(inElement, inName, static_cast<unsigned char>(inValue->GetBoolean() ? 1 : 0));
        case VK_LONG:
            return AddNodeElement(inElement, inName, inValue->GetLong());
        case VK_REAL:
            return AddNodeElement(inElement, inName, inValue->GetReal());
        case VK_TIME:
            return AddNodeElement(inElement, inName, XMLText(*inValue, 1));
        case VK_DURATION:
            return AddNodeElement(inElement, inName, XMLText(*inValue, 1));
        case VK_STRING: {
            VString text;
            inValue->GetString(text);
            return AddNodeElement(inElement, inName, text);
        }
        default:
            return nullptr;
    }
}

void IXMLDomWrapper::SetNodeElementValue(VXMLDOMElement_opaque* inElement, const VString& inText)
{
    if (inElement == nullptr)
        return;
    Guarded([&] {
        DOMElement* element = E(inElement);
        DOMNode* first = element->getFirstChild();
        if (first != nullptr && first->getNodeType() == DOMNode::TEXT_NODE) {
            first->setNodeValue(X(inText).c_str());
            return;
        }
        if (element->getOwnerDocument() == nullptr)
            return;
        while (DOMNode* child = element->getFirstChild())
            element->removeChild(child)->release();
        AppendText(element, inText);
    });
}

void IXMLDomWrapper::SetNodeElementValue(VXMLDOMElement_opaque* inElement, unsigned char inValue)
{
    SetNodeElementValue(inElement, XMLText(VBoolean(inValue != 0), 1));
}

void IXMLDomWrapper::SetNodeElementValue(VXMLDOMElement_opaque* inElement, int inValue)
{
    VString text;
    text.FromLong(inValue);
    SetNodeElementValue(inElement, text);
}

void IXMLDomWrapper::SetNodeElementValue(VXMLDOMElement_opaque* inElement, double inValue)
{
    SetNodeElementValue(inElement, XMLText(VReal(inValue), 1));
}

void IXMLDomWrapper::SetNodeElementValue(VXMLDOMElement_opaque* inElement, const VTime& inValue,
                                         unsigned int inOptions)
{
    SetNodeElementValue(inElement, XMLText(inValue, inOptions));
}

void IXMLDomWrapper::SetNodeElementValue(VXMLDOMElement_opaque* inElement, const VDuration& inValue,
                                         unsigned int inOptions)
{
    SetNodeElementValue(inElement, XMLText(inValue, inOptions));
}

void IXMLDomWrapper::GetNodeElementValueString(VXMLDOMElement_opaque* inElement, VString& outText)
{
    outText = Guarded(VString(), [&] { return FirstChildValue(E(inElement), DOMNode::TEXT_NODE); });
}

void IXMLDomWrapper::GetNodeElementCDATA(VXMLDOMElement_opaque* inElement, VString& outText)
{
    outText = Guarded(VString(), [&] { return FirstChildValue(E(inElement), DOMNode::CDATA_SECTION_NODE); });
}

bool IXMLDomWrapper::GetNodeElementValueBoolean(VXMLDOMElement_opaque* inElement)
{
    VString text;
    GetNodeElementValueString(inElement, text);
    VBoolean value(false);
    return value.FromXMLString(text) ? value.GetBoolean() : false;
}

int IXMLDomWrapper::GetNodeElementValueLong(VXMLDOMElement_opaque* inElement)
{
    VString text;
    GetNodeElementValueString(inElement, text);
    VLong value;
    value.FromString(text);
    return value.GetLong();
}

double IXMLDomWrapper::GetNodeElementValueReal(VXMLDOMElement_opaque* inElement)
{
    VString text;
    GetNodeElementValueString(inElement, text);
    VReal value;
    value.FromString(text);
    return value.GetReal();
}

bool IXMLDomWrapper::GetNodeElementValueTime(VXMLDOMElement_opaque* inElement, VTime& outValue)
{
    VString text;
    GetNodeElementValueString(inElement, text);
    return outValue.FromXMLString(text);
}

bool IXMLDomWrapper::GetNodeElementValueDuration(VXMLDOMElement_opaque* inElement, VDuration& outValue)
{
    VString text;
    GetNodeElementValueString(inElement, text);
    return outValue.FromXMLString(text);
}

bool IXMLDomWrapper::GetNodeElementAttribute(VXMLDOMElement_opaque* inElement, const VString& inName,
                                             VString& outValue)
{
    if (inElement == nullptr)
        return false;
    return Guarded(false, [&] {
        DOMElement* element = E(inElement);
        const QualifiedName name = Resolve(element, X(inName));
        DOMAttr* attribute = name.fNamespace != nullptr
                                 ? element->getAttributeNodeNS(name.fNamespace, name.fLocalName.c_str())
                                 : element->getAttributeNode(name.fName.c_str());
        if (attribute == nullptr || attribute->getValue() == nullptr)
            return false;
        outValue = V(attribute->getValue());
        return true;
    });
}

bool IXMLDomWrapper::SetNodeElementAttribute(VXMLDOMElement_opaque* inElement, const VString& inName,
                                             const VString& inValue, bool inRemoveIfEmpty, bool* outIsID)
{
    if (outIsID != nullptr)
        *outIsID = false;
    if (inElement == nullptr)
        return false;
    return Guarded(false, [&] {
        DOMElement* element = E(inElement);
        const QualifiedName name = Resolve(element, X(inName));
        const std::u16string value = X(inValue);
        const bool remove = inValue.IsEmpty() && inRemoveIfEmpty;
        if (name.fNamespace != nullptr) {
            if (remove)
                element->removeAttributeNS(name.fNamespace, name.fLocalName.c_str());
            else
                element->setAttributeNS(name.fNamespace, name.fName.c_str(), value.c_str());
            if (name.fLocalName == u"id") {
                if (!remove)
                    element->setIdAttributeNS(name.fNamespace, name.fLocalName.c_str(), true);
                if (outIsID != nullptr)
                    *outIsID = true;
            }
        } else {
            if (remove)
                element->removeAttribute(name.fName.c_str());
            else
                element->setAttribute(name.fName.c_str(), value.c_str());
            if (name.fName == u"id") {
                if (!remove)
                    element->setIdAttribute(name.fName.c_str(), true);
                if (outIsID != nullptr)
                    *outIsID = true;
            }
        }
        return true;
    });
}

// ---- Bags ------------------------------------------------------------------

VError ReadBagFromDomXML(VXMLDOMNode_opaque* inNode, VValueBag& ioBag)
{
    VXMLDOMElement_opaque* element = IXMLDomWrapper::GetNodeElement(inNode);
    if (element == nullptr)
        return MakeVError(kSignatureXMLC, 2);
    VString name;
    IXMLDomWrapper::GetNodeElementName(element, name);
    StErrorContextInstaller errors(true, false);
    VRefPtr<VXMLBagHandler_UniqueElement> handler = AdoptRef(new VXMLBagHandler_UniqueElement(&ioBag, name));
    const bool walked = IXMLDomWrapper::Parse(inNode, handler.Get());
    const VError last = errors.GetLastError();
    if (last != 0)
        return last;
    return walked ? VError(0) : MakeVError(kSignatureXMLC, 2);
}

bool WriteBagToDomXMLElement(const VValueBag& inBag, VXMLDOMElement_opaque* inElement,
                             std::vector<VXMLDOMNode_opaque*>* outCreatedNodes)
{
    if (inElement == nullptr)
        return false;
    return Guarded(false, [&] { return WriteBag(inBag, E(inElement), outCreatedNodes, Depth(E(inElement))); });
}

VError WriteBagToDomXML(const VValueBag& inBag, VXMLDOMNode_opaque* inNode,
                        std::vector<VXMLDOMNode_opaque*>* outCreatedNodes)
{
    VXMLDOMElement_opaque* element = IXMLDomWrapper::GetNodeElement(inNode);
    if (element == nullptr)
        return QeltError(3);
    return WriteBagToDomXMLElement(inBag, element, outCreatedNodes) ? VError(0) : QeltError(1);
}

}  // namespace qelt
