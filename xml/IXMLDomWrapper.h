// DOM trees of the XML library behind opaque handles: documents built from
// memory and serialised to blobs, walked into the handlers of the event
// reader, queried and edited, and value bags copied to and from elements.
// No exception of the library leaves these functions; a document parsed
// here never reads an entity from outside and nests at most 256 deep.
#pragma once

#include <cstddef>
#include <vector>

#include "kernel/VKernelTypes.h"
#include "kernel/VString.h"

namespace qelt {

class IXMLHandler;
class VBlob;
class VDuration;
class VFile;
class VFileStream;
class VTime;
class VURL;
class VValueBag;
class VValueSingle;

struct VXMLDOMNode_opaque;
struct VXMLDOMElement_opaque;
struct VXMLDOMDocument_opaque;
struct VXMLMemBufFormatTarget_opaque;

class IXMLDomWrapper {
public:
    // Walks the node into the handler as an XML parse would: an element
    // through DOMParseElement, any other node through DOMParseNode.
    static bool Parse(VXMLDOMNode_opaque* inNode, IXMLHandler* inHandler);
    static bool DOMParseNode(VXMLDOMNode_opaque* inNode, IXMLHandler* inHandler);
    static bool DOMParseElement(VXMLDOMElement_opaque* inElement, IXMLHandler* inHandler);

    static size_t GetNumberOfChildrenNodes(VXMLDOMNode_opaque* inNode);
    static VXMLDOMNode_opaque* GetChildNode(VXMLDOMNode_opaque* inNode, int inIndex);
    static void GetNodeElementName(VXMLDOMElement_opaque* inElement, VString& outName);
    static VXMLDOMElement_opaque* GetNodeElement(VXMLDOMNode_opaque* inNode);
    static VXMLDOMNode_opaque* GetNodeFromNodeElement(VXMLDOMElement_opaque* inElement);
    static VXMLDOMDocument_opaque* GetNodeDocument(VXMLDOMNode_opaque* inNode);
    static VXMLDOMElement_opaque* GetRootNodeElement(VXMLDOMNode_opaque* inNode);
    static VXMLDOMElement_opaque* FindNodeElementByID(VXMLDOMNode_opaque* inNode, const VString& inID);
    // Marks the "id" attributes (with or without a resolvable prefix) of
    // every element of the node's document as ID attributes.
    static void RegisterNodeIDs(VXMLDOMNode_opaque* inNode);
    static bool GetDocumentURL(VXMLDOMNode_opaque* inNode, VURL& outURL);

    static VXMLDOMNode_opaque* CloneNodeDocument(VXMLDOMNode_opaque* inDocumentNode);
    static VXMLDOMDocument_opaque* CloneNodeDocument(VXMLDOMDocument_opaque* inDocument);
    static void ReleaseNode(VXMLDOMNode_opaque* inNode);

    // A new document (the caller releases it with ReleaseNode), or null with
    // the parse's errors ('xmlc' 2 and 3) raised.
    static VXMLDOMNode_opaque* CreateNodeDocumentFromBuffer(const void* inData, size_t inSize,
                                                            const VString* inSystemID);

    // The node serialised into the blob at the offset, line ends as CR.
    static bool SerializeToBlob(VXMLDOMNode_opaque* inNode, VBlob* inBlob, int inOffset, size_t& outSize,
                                bool inPrettyPrint);
    // The same into a stream open for writing; true when it reported no
    // error.
    static bool SerializeToFile(VXMLDOMNode_opaque* inNode, VFileStream& ioStream, size_t& outSize,
                                bool inPrettyPrint);
    // The serialised node as the whole content of the file, written beside
    // it and renamed over it: a failure leaves the old file whole.
    static bool WriteToFile(VXMLDOMNode_opaque* inNode, const VFile& inFile, bool inPrettyPrint);
    static bool CopyMemBufFormatTargetToBlob(VBlob* inBlob, int inOffset, size_t& outSize,
                                             VXMLMemBufFormatTarget_opaque* inTarget, const VString& inEncoding,
                                             bool inConvertLineEnds);

    static VXMLDOMElement_opaque* CreateElement(VXMLDOMDocument_opaque* inDocument,
                                                VXMLDOMElement_opaque* inParentElement, const UniChar* inQualifiedName);
    static VXMLDOMElement_opaque* AddNodeElement(VXMLDOMElement_opaque* inElement, const VString& inName);
    static VXMLDOMElement_opaque* AddNodeElement(VXMLDOMElement_opaque* inElement, const VString& inName,
                                                 const VString& inValue);
    static VXMLDOMElement_opaque* AddNodeElement(VXMLDOMElement_opaque* inElement, const VString& inName,
                                                 const VTime& inValue, unsigned int inOptions);
    static VXMLDOMElement_opaque* AddNodeElement(VXMLDOMElement_opaque* inElement, const VString& inName,
                                                 const VDuration& inValue, unsigned int inOptions);
    static VXMLDOMElement_opaque* AddNodeElement(VXMLDOMElement_opaque* inElement, const VString& inName,
                                                 double inValue);
    static VXMLDOMElement_opaque* AddNodeElement(VXMLDOMElement_opaque* inElement, const VString& inName,
                                                 unsigned char inValue);
    static VXMLDOMElement_opaque* AddNodeElement(VXMLDOMElement_opaque* inElement, const VString& inName,
                                                 int inValue);
    static VXMLDOMElement_opaque* AddNodeElement(VXMLDOMElement_opaque* inElement, const VString& inName,
                                                 const VValueSingle* inValue);

    static void SetNodeElementValue(VXMLDOMElement_opaque* inElement, const VString& inText);
    static void SetNodeElementValue(VXMLDOMElement_opaque* inElement, unsigned char inValue);
    static void SetNodeElementValue(VXMLDOMElement_opaque* inElement, int inValue);
    static void SetNodeElementValue(VXMLDOMElement_opaque* inElement, double inValue);
    static void SetNodeElementValue(VXMLDOMElement_opaque* inElement, const VTime& inValue, unsigned int inOptions);
    static void SetNodeElementValue(VXMLDOMElement_opaque* inElement, const VDuration& inValue,
                                    unsigned int inOptions);

    static void GetNodeElementValueString(VXMLDOMElement_opaque* inElement, VString& outText);
    static void GetNodeElementCDATA(VXMLDOMElement_opaque* inElement, VString& outText);
    static bool GetNodeElementValueBoolean(VXMLDOMElement_opaque* inElement);
    static int GetNodeElementValueLong(VXMLDOMElement_opaque* inElement);
    static double GetNodeElementValueReal(VXMLDOMElement_opaque* inElement);
    static bool GetNodeElementValueTime(VXMLDOMElement_opaque* inElement, VTime& outValue);
    static bool GetNodeElementValueDuration(VXMLDOMElement_opaque* inElement, VDuration& outValue);

    static bool GetNodeElementAttribute(VXMLDOMElement_opaque* inElement, const VString& inName, VString& outValue);
    static bool SetNodeElementAttribute(VXMLDOMElement_opaque* inElement, const VString& inName,
                                        const VString& inValue, bool inRemoveIfEmpty, bool* outIsID);
};

// The element into the bag (its attributes, children and text).
VError ReadBagFromDomXML(VXMLDOMNode_opaque* inNode, VValueBag& ioBag);
// The bag's attributes and child bags into the element.
bool WriteBagToDomXMLElement(const VValueBag& inBag, VXMLDOMElement_opaque* inElement,
                             std::vector<VXMLDOMNode_opaque*>* outCreatedNodes);
VError WriteBagToDomXML(const VValueBag& inBag, VXMLDOMNode_opaque* inNode,
                        std::vector<VXMLDOMNode_opaque*>* outCreatedNodes);

}  // namespace qelt
