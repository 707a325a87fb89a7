// Value bags read from XML: the handlers that turn elements into child bags,
// attributes into string attributes and text into the bag's CDATA, and the
// free functions that write a bag as XML to a stream and read it back from a
// stream or a text.
#pragma once

#include <vector>

#include "kernel/VObject.h"
#include "kernel/VString.h"
#include "values/VBagArray.h"
#include "xml/IXMLHandler.h"

namespace qelt {

class IFile;
class VFolder;
class VStream;
class VValueBag;

// One handler for a whole subtree: a stack of bags whose bottom is the bag
// it was built on. A run of blanks only next to child elements is the
// layout the bag writer puts before each child and closing tag, not text:
// it is dropped, so that a bag written and read back keeps its CDATA.
class VXMLBagHandler : public VObject, public IXMLHandler {
public:
    explicit VXMLBagHandler(VValueBag* inBag);
    ~VXMLBagHandler() override;

    IXMLHandler* StartElement(const VString& inElementName) override;
    void EndElement(const VString& inElementName) override;
    void SetAttribute(const VString& inName, const VString& inValue) override;
    void SetText(const VString& inText) override;

private:
    // Per open element: blanks not yet appended, and whether a child came.
    struct Level {
        VString fPendingBlanks;
        bool fHasChildren = false;
    };

    void _FlushBlanks(Level& ioLevel, VValueBag* inBag);

    VBagArray fBagStack;
    std::vector<Level> fLevels;
};

// The root handler of the bag readers: the document element (when its name
// is the expected one, or any name when none is expected) goes straight into
// the target bag; anything else is skipped.
class VXMLBagHandler_UniqueElement : public VObject, public IXMLHandler {
public:
    VXMLBagHandler_UniqueElement(VValueBag* inBag, const VString& inElementName);
    ~VXMLBagHandler_UniqueElement() override;

    IXMLHandler* StartElement(const VString& inElementName) override;
    void SetText(const VString& inText) override;

private:
    VValueBag* fBag;
    VString fElementName;
    unsigned int fCount = 0;
};

// The stream form: the 32-bit version 1, then the text of the XML
// declaration and the bag under the root element "bag", unindented.
VError WriteBagToStreamInXML(const VValueBag& inBag, VStream* inStream);

// Reads that form back; a version other than 1 reads nothing more and
// leaves the bag untouched (answer 0).
VError ReadBagFromStreamInXML(VValueBag& ioBag, VStream* inStream);

// Reads an XML text into the bag: the root element (named inRootName, or any
// when empty) gives the bag's attributes, children and CDATA; another root
// leaves the bag untouched. Answers the last error the parse raised.
VError LoadBagFromXML(const VString& inText, const VString& inRootName, VValueBag& ioBag, unsigned int inOptions);

// The same on a file's content.
VError LoadBagFromXML(IFile* inFile, const VString& inRootName, VValueBag& ioBag, unsigned int inOptions);
// The same with a local source of external entities: when both the prefix
// and the folder are given and the folder exists, an entity whose system id
// begins with the prefix is read from inside the folder.
VError LoadBagFromXML(IFile* inFile, const VString& inRootName, VValueBag& ioBag, unsigned int inOptions,
                      const VString* inEntitiesPrefix, VFolder* inEntitiesFolder);
VError LoadBagFromXML(const VString& inText, const VString& inRootName, VValueBag& ioBag, unsigned int inOptions,
                      const VString* inEntitiesPrefix, VFolder* inEntitiesFolder);

// Writes the XML declaration and the bag under inRootName as the file's
// whole content (UTF-8, no byte-order mark). The text goes to a new file
// beside the target, which is then renamed over it: a failure leaves the
// old file whole. A null file writes nothing (answer 0).
VError WriteBagToFileInXML(const VValueBag& inBag, const VString& inRootName, IFile* inFile, bool inIndented);

}  // namespace qelt
