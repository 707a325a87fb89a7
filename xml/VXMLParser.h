// The event-style XML reader: parses a block of memory or a string with the
// XML library's SAX parser and hands every event to a stack of IXMLHandler
// objects (see xml/IXMLHandler.h). The library never reads an entity on its
// own; nesting, entity expansion and the text that expansion produces are
// bounded, and no exception of the library leaves a Parse.
#pragma once

#include <cstddef>

#include "kernel/VObject.h"
#include "kernel/VString.h"

namespace qelt {

class IFile;
class VFile;
class VFolder;
class IXMLHandler;

// Parse option bits.
enum : unsigned int {
    kXMLValidateAlways = 1,           // validation "always"
    kXMLValidateNever = 2,            // validation "never" (without bit 1); neither: "auto"
    kXMLNamespaces = 4,               // namespace processing
    kXMLLoadExternalDTD = 8,          // read the external DTD (through the entity resolution)
    kXMLReportUnspecifiedAttributes = 16,  // attributes that only a DTD supplies reach SetAttribute
};

class VXMLParser : public VObject {
public:
    // Elements nest at most this deep; deeper ones stop the parse ('xmlc' 3).
    static constexpr int kMaxDepth = 256;
    // Entity references expanded per document at most.
    static constexpr unsigned int kMaxEntityExpansions = 50000;
    // Text handed to handlers beyond the document's own size, in bytes.
    static constexpr unsigned long long kMaxExpandedTextBytes = 64ull << 20;

    VXMLParser();
    ~VXMLParser() override;

    // The bytes, as a document whose system id is "frommem"; the encoding is
    // detected from the bytes.
    bool Parse(const void* inData, size_t inSize, IXMLHandler* inHandler, unsigned int inOptions);

    // The string's UTF-16 units, whatever its XML declaration says.
    bool Parse(const VString& inText, IXMLHandler* inHandler, unsigned int inOptions);

    // A file: a VFile is read by the library from its POSIX path, any other
    // file is read whole first (false, without parsing, when that fails).
    bool Parse(IFile* inFile, IXMLHandler* inHandler, unsigned int inOptions);

    // Library errors go on the task's error stack ('xmlc' 2 for an error,
    // 3 for a fatal one, with "message", "systemID", "publicID", "line" and
    // "column"); the answer is true only when there was none.
    // The library never reads an entity on its own: an external entity is
    // read only from the file that the open element's handler, else this
    // parser, resolves it to.

    // The parser's own local entities source (the folder is retained).
    void SetEntitiesLocalFolder(const VString& inPrefix, VFolder* inFolder);
    VFile* ResolveEntity(const VString& inSystemID);

    // The file (one reference for the caller) of the system id inside the
    // folder: the id must begin with the prefix, and what follows it must
    // be a relative path ('/'-separated) without ".." or empty segments.
    // Null otherwise, or without a folder. The file need not exist.
    static VFile* ResolveEntityFromFolder(const VString& inPrefix, VFolder* inFolder, const VString& inSystemID);

    bool GetReportUnspecifiedAttributes() const { return fReportUnspecifiedAttributes; }

    // The library's process-wide start-up and shut-down; calls nest. A parse
    // before the first Init (or after the last DeInit) starts the library
    // itself and keeps it started.
    static bool Init();
    static void DeInit();

private:
    bool _Parse(const void* inBytes, size_t inSize, const UniChar* inForcedEncoding, const UniChar* inSystemID,
                bool inLocalFile, IXMLHandler* inHandler, unsigned int inOptions);

    bool fReportUnspecifiedAttributes = false;
    VString fEntitiesPrefix;
    VFolder* fEntitiesFolder = nullptr;
};

// Raises an XML error ('xmlc' inNumber) with the library's message and where
// it happened.
void ThrowXMLError(int inNumber, const VString& inMessage, const VString& inSystemID, const VString& inPublicID,
                   int inLine, int inColumn);

}  // namespace qelt
