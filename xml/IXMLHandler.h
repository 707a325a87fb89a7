// The handlers of the event-style XML reader. A parse keeps a stack of
// handlers, one per open element: the handler of an element decides, for each
// child element, which handler takes the child (a new one, itself, or none, in
// which case the child's whole subtree is skipped).
#pragma once

#include "kernel/IRefCountable.h"
#include "kernel/VKernelTypes.h"
#include "kernel/VObject.h"
#include "kernel/VString.h"

namespace qelt {

class VFile;
class VFolder;

class IXMLHandler : public IRefCountable {
public:
    IXMLHandler() = default;
    IXMLHandler(const IXMLHandler&) = delete;
    IXMLHandler& operator=(const IXMLHandler&) = delete;
    ~IXMLHandler() override;

    // The handler of the child element, with a reference the caller owns, or
    // null to skip the child and everything inside it. By default every
    // child is skipped.
    virtual IXMLHandler* StartElement(const VString& inElementName);
    virtual void EndElement(const VString& inElementName);
    virtual void SetAttribute(const VString& inName, const VString& inValue);
    // A run of text; one run of the document may come in several calls.
    virtual void SetText(const VString& inText);

    // An external entity by system id: a file (one reference for the
    // caller) or null. By default looked up in the handler's own entities
    // folder (VXMLParser::ResolveEntityFromFolder).
    virtual VFile* ResolveEntity(const VString& inSystemID);

    // By default splits an "xml-stylesheet" instruction into its
    // pseudo-attributes and hands them to the three calls below.
    virtual void processingInstruction(const VString& inTarget, const VString& inData);
    virtual void StartStyleSheet();
    virtual void SetStyleSheetAttribute(const VString& inName, const VString& inValue);
    virtual void EndStyleSheet();

    // The prefix and folder of the local entities source (the folder is
    // retained; the same folder again changes nothing).
    void SetEntitiesLocalFolder(const VString& inPrefix, VFolder* inFolder);

    // Space, tab, line feed, form feed and carriage return (not 11).
    static bool WCharIsSpace(UniChar inChar);
    // Whether XML 1.0 allows the unit in a document.
    static bool IsXMLChar(UniChar inChar);

protected:
    VString fEntitiesPrefix;
    VFolder* fEntitiesFolder = nullptr;
};

// Swallows a whole subtree: every child is taken by the handler itself.
class VNullXMLHandler : public VObject, public IXMLHandler {
public:
    IXMLHandler* StartElement(const VString& inElementName) override;
    void SetAttribute(const VString& inName, const VString& inValue) override;
    void SetText(const VString& inText) override;
};

}  // namespace qelt
