#include "xml/VXMLParser.h"

#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <vector>
#include <new>

#include <xercesc/framework/LocalFileInputSource.hpp>
#include <xercesc/framework/MemBufInputSource.hpp>
#include <xercesc/framework/XMLAttr.hpp>
#include <xercesc/framework/XMLDocumentHandler.hpp>
#include <xercesc/framework/XMLElementDecl.hpp>
#include <xercesc/internal/XMLScanner.hpp>
#include <xercesc/parsers/SAXParser.hpp>
#include <xercesc/sax/EntityResolver.hpp>
#include <xercesc/sax/ErrorHandler.hpp>
#include <xercesc/sax/Locator.hpp>
#include <xercesc/sax/SAXParseException.hpp>
#include <xercesc/util/OutOfMemoryException.hpp>
#include <xercesc/util/PlatformUtils.hpp>
#include <xercesc/util/SecurityManager.hpp>
#include <xercesc/util/XMLException.hpp>

#include "files/IFile.h"
#include "files/VFile.h"
#include "files/VFolder.h"
#include "kernel/IRefCountable.h"
#include "kernel/VLong.h"
#include "runtime/VErrorBase.h"
#include "runtime/VErrorContext.h"
#include "values/StBagKey.h"
#include "xml/IXMLHandler.h"
#include "xml/XercesNetAccessor.h"
#include "xml/XercesStart.h"

namespace qelt {

namespace {

using namespace xercesc;

const StBagKeyNoDefault<VString, VString> kMessageKey("message");
const StBagKeyNoDefault<VString, VString> kSystemIDKey("systemID");
const StBagKeyNoDefault<VString, VString> kPublicIDKey("publicID");
const StBagKeyNoDefault<int, VLong> kLineKey("line");
const StBagKeyNoDefault<int, VLong> kColumnKey("column");

const UniChar kFromMem[] = {'f', 'r', 'o', 'm', 'm', 'e', 'm', 0};
const UniChar kUTF16LE[] = {'U', 'T', 'F', '-', '1', '6', 'L', 'E', 0};

inline const XMLCh* AsXMLCh(const UniChar* inUnits)
{
    return reinterpret_cast<const XMLCh*>(inUnits);
}

inline const UniChar* AsUniChar(const XMLCh* inUnits)
{
    return reinterpret_cast<const UniChar*>(inUnits);
}

void SetFromXMLCh(VString& outText, const XMLCh* inUnits)
{
    if (inUnits == nullptr) {
        outText.Clear();
        return;
    }
    outText.FromUniString(AsUniChar(inUnits), static_cast<int>(XMLString::stringLen(inUnits)));
}

int ClampToInt(XMLFileLoc inValue)
{
    return inValue > 0x7FFFFFFF ? 0x7FFFFFFF : static_cast<int>(inValue);
}

// The library's SAX parser, with its scanner's position in reach of the
// adapter.
class PositionedSAXParser : public SAXParser {
public:
    using SAXParser::SAXParser;
    const Locator* GetLocator() const { return getScanner().getLocator(); }
};

// Thrown by the adapter to stop a parse that went past a bound; caught in
// VXMLParser::_Parse once the error has been raised.
struct StopParse {};

// Receives the library's callbacks and runs the handler stack of one parse.
class SAX_Handlers : public XMLDocumentHandler, public EntityResolver, public ErrorHandler {
public:
    SAX_Handlers(PositionedSAXParser* inParser, VXMLParser* inOwner, IXMLHandler* inRoot, unsigned long long inTextBudget)
        : fParser(inParser), fOwner(inOwner), fTextBudget(inTextBudget)
    {
        fStack.emplace_back(inRoot);
    }

    ~SAX_Handlers() override = default;

    // XMLDocumentHandler
    void docCharacters(const XMLCh* const inChars, const XMLSize_t inLength, const bool) override
    {
        IXMLHandler* top = fStack.back().Get();
        if (top == nullptr || inLength == 0)
            return;
        const unsigned long long bytes = static_cast<unsigned long long>(inLength) * sizeof(UniChar);
        if (bytes > fTextBudget)
            _Stop("the text of the document's entities goes past its limit");
        fTextBudget -= bytes;
        if (inLength > 0x7FFFFFFF)
            _Stop("a run of text is too long");
        fText.FromUniString(AsUniChar(inChars), static_cast<int>(inLength));
        top->SetText(fText);
    }

    void docComment(const XMLCh* const) override {}

    void docPI(const XMLCh* const inTarget, const XMLCh* const inData) override
    {
        IXMLHandler* top = fStack.back().Get();
        if (top == nullptr || inTarget == nullptr || inData == nullptr)
            return;
        VString target, data;
        SetFromXMLCh(target, inTarget);
        SetFromXMLCh(data, inData);
        top->processingInstruction(target, data);
    }

    void endDocument() override {}

    void endElement(const XMLElementDecl& inDecl, const unsigned int, const bool, const XMLCh* const) override
    {
        if (fStack.size() <= 1)
            return;  // never pops the root entry
        VRefPtr<IXMLHandler> top = std::move(fStack.back());
        fStack.pop_back();
        if (top) {
            SetFromXMLCh(fName, inDecl.getFullName());
            top->EndElement(fName);
        }
    }

    void endEntityReference(const XMLEntityDecl&) override {}
    void ignorableWhitespace(const XMLCh* const, const XMLSize_t, const bool) override {}
    void resetDocument() override {}
    void startDocument() override {}

    void startElement(const XMLElementDecl& inDecl, const unsigned int, const XMLCh* const,
                      const RefVectorOf<XMLAttr>& inAttributes, const XMLSize_t inCount, const bool inIsEmpty,
                      const bool) override
    {
        if (static_cast<int>(fStack.size()) > VXMLParser::kMaxDepth)
            _Stop("elements are nested too deep");
        IXMLHandler* top = fStack.back().Get();
        VRefPtr<IXMLHandler> child;
        if (top != nullptr) {
            SetFromXMLCh(fName, inDecl.getFullName());
            child.Adopt(top->StartElement(fName));
        }
        if (!child) {
            if (!inIsEmpty)
                fStack.emplace_back(nullptr);
            return;
        }
        // The stack takes the reference over; an empty element keeps it
        // here until its end, given at once.
        IXMLHandler* handler = child.Get();
        if (!inIsEmpty)
            fStack.push_back(std::move(child));
        const bool reportAll = fOwner->GetReportUnspecifiedAttributes();
        for (XMLSize_t i = 0; i < inCount; ++i) {
            const XMLAttr* attribute = inAttributes.elementAt(i);
            if (!attribute->getSpecified() && !reportAll)
                continue;
            SetFromXMLCh(fAttributeName, attribute->getQName());
            SetFromXMLCh(fAttributeValue, attribute->getValue());
            handler->SetAttribute(fAttributeName, fAttributeValue);
        }
        if (inIsEmpty) {
            // A handler may have changed the shared name buffer meanwhile.
            SetFromXMLCh(fName, inDecl.getFullName());
            handler->EndElement(fName);
        }
    }

    void startEntityReference(const XMLEntityDecl&) override {}
    void XMLDecl(const XMLCh* const, const XMLCh* const, const XMLCh* const, const XMLCh* const) override {}

    // EntityResolver: the library never reads an entity on its own; what no
    // handler gives is read as empty.
    InputSource* resolveEntity(const XMLCh* const, const XMLCh* const inSystemID) override
    {
        IXMLHandler* top = fStack.back().Get();
        if (top == nullptr || inSystemID == nullptr)
            return nullptr;
        VString systemID;
        SetFromXMLCh(systemID, inSystemID);
        VRefPtr<VFile> file = AdoptRef(top->ResolveEntity(systemID));
        if (!file)
            file.Adopt(fOwner->ResolveEntity(systemID));
        if (!file)
            return nullptr;
        VString path;
        file->GetPlatformPath(path, FPS_POSIX);
        const std::u16string terminated(reinterpret_cast<const char16_t*>(path.GetCPointer()),
                                        static_cast<size_t>(path.GetLength()));
        return new LocalFileInputSource(terminated.c_str());
    }

    // ErrorHandler
    void warning(const SAXParseException&) override {}
    void error(const SAXParseException& inException) override { _Raise(2, inException); }
    void fatalError(const SAXParseException& inException) override { _Raise(3, inException); }
    void resetErrors() override {}

private:
    void _Raise(int inNumber, const SAXParseException& inException)
    {
        VString message, systemID, publicID;
        SetFromXMLCh(message, inException.getMessage());
        SetFromXMLCh(systemID, inException.getSystemId());
        SetFromXMLCh(publicID, inException.getPublicId());
        ThrowXMLError(inNumber, message, systemID, publicID, ClampToInt(inException.getLineNumber()),
                      ClampToInt(inException.getColumnNumber()));
    }

    [[noreturn]] void _Stop(const char* inMessage)
    {
        const Locator* locator = fParser->GetLocator();
        VString systemID, publicID;
        int line = 0, column = 0;
        if (locator != nullptr) {
            SetFromXMLCh(systemID, locator->getSystemId());
            SetFromXMLCh(publicID, locator->getPublicId());
            line = ClampToInt(locator->getLineNumber());
            column = ClampToInt(locator->getColumnNumber());
        }
        ThrowXMLError(3, VString(inMessage), systemID, publicID, line, column);
        throw StopParse();
    }

    PositionedSAXParser* fParser;
    VXMLParser* fOwner;
    unsigned long long fTextBudget;
    std::deque<VRefPtr<IXMLHandler>> fStack;
    // Buffers reused from one event to the next, so that short names and
    // runs of text need no heap block.
    VStr<63> fName;
    VStr<63> fAttributeName;
    VStr<255> fAttributeValue;
    VStr<255> fText;
};

}  // namespace

void ThrowXMLError(int inNumber, const VString& inMessage, const VString& inSystemID, const VString& inPublicID,
                   int inLine, int inColumn)
{
    VErrorBase* error = new VErrorBase(MakeVError(kSignatureXMLC, inNumber));
    VValueBag& bag = *error->GetBag();
    kMessageKey.Set(bag, inMessage);
    kSystemIDKey.Set(bag, inSystemID);
    kPublicIDKey.Set(bag, inPublicID);
    kLineKey.Set(bag, inLine);
    kColumnKey.Set(bag, inColumn);
    _PushRetainedError(error, 0);
}

VXMLParser::VXMLParser() = default;

VXMLParser::~VXMLParser()
{
    ReleaseRefCountable(fEntitiesFolder);
}

void VXMLParser::SetEntitiesLocalFolder(const VString& inPrefix, VFolder* inFolder)
{
    fEntitiesPrefix = inPrefix;
    if (inFolder != fEntitiesFolder) {
        ReleaseRefCountable(fEntitiesFolder);
        fEntitiesFolder = RetainRefCountable(inFolder);
    }
}

VFile* VXMLParser::ResolveEntity(const VString& inSystemID)
{
    return ResolveEntityFromFolder(fEntitiesPrefix, fEntitiesFolder, inSystemID);
}

VFile* VXMLParser::ResolveEntityFromFolder(const VString& inPrefix, VFolder* inFolder, const VString& inSystemID)
{
    if (inFolder == nullptr || !inSystemID.BeginsWith(inPrefix, false))
        return nullptr;
    VString relative(inSystemID);
    if (!inPrefix.IsEmpty())
        relative.Remove(1, inPrefix.GetLength());
    // Only a plain relative path stays inside the folder: no leading '/',
    // no empty segment, no "..".
    std::vector<VString> segments;
    relative.GetSubStrings(UniChar('/'), segments, true, false);
    if (relative.IsEmpty() || segments.empty())
        return nullptr;
    for (const VString& segment : segments) {
        if (segment.IsEmpty() || segment.EqualToUSASCIICString(".."))
            return nullptr;
    }
    VFilePath path(inFolder->GetPath(), relative, FPS_POSIX, true);
    if (!path.IsFile() || !path.IsChildOfRawPath(inFolder->GetPath()))
        return nullptr;
    return new VFile(path);
}

bool VXMLParser::Parse(const void* inData, size_t inSize, IXMLHandler* inHandler, unsigned int inOptions)
{
    return _Parse(inData, inSize, nullptr, kFromMem, false, inHandler, inOptions);
}

bool VXMLParser::Parse(const VString& inText, IXMLHandler* inHandler, unsigned int inOptions)
{
    return _Parse(inText.GetCPointer(), static_cast<size_t>(inText.GetLength()) * sizeof(UniChar), kUTF16LE,
                  kFromMem, false, inHandler, inOptions);
}

bool VXMLParser::Parse(IFile* inFile, IXMLHandler* inHandler, unsigned int inOptions)
{
    if (inFile == nullptr)
        return false;
    VString path;
    inFile->GetPlatformPath(path, FPS_POSIX);
    std::u16string systemID(reinterpret_cast<const char16_t*>(path.GetCPointer()), static_cast<size_t>(path.GetLength()));
    if (dynamic_cast<VFile*>(inFile) != nullptr) {
        // The size bounds the text that entity expansion may add.
        long long size = 0;
        {
            StErrorContextInstaller quiet(false, true);
            inFile->GetSize(&size);
        }
        return _Parse(nullptr, size > 0 ? static_cast<size_t>(size) : 0, nullptr,
                      reinterpret_cast<const UniChar*>(systemID.c_str()), true, inHandler, inOptions);
    }
    VMemoryBuffer<1024, 2, 1048576> buffer;
    if (inFile->GetContent(buffer) != 0)
        return false;
    return _Parse(buffer.GetDataPtr(), buffer.GetDataSize(), nullptr, reinterpret_cast<const UniChar*>(systemID.c_str()),
                  false, inHandler, inOptions);
}

bool VXMLParser::_Parse(const void* inBytes, size_t inSize, const UniChar* inForcedEncoding,
                        const UniChar* inSystemID, bool inLocalFile, IXMLHandler* inHandler,
                        unsigned int inOptions)
{
    // A reader called before Init, or after the last DeInit, starts the
    // library here.
    StartXercesOnce();

    static const XMLByte kEmpty[1] = {0};
    const XMLByte* bytes = inBytes != nullptr ? static_cast<const XMLByte*>(inBytes) : kEmpty;
    const size_t memorySize = inBytes != nullptr ? inSize : 0;
    fReportUnspecifiedAttributes = (inOptions & kXMLReportUnspecifiedAttributes) != 0;

    bool ok = false;
    try {
        SecurityManager security;
        security.setEntityExpansionLimit(kMaxEntityExpansions);
        PositionedSAXParser parser(nullptr, XMLPlatformUtils::fgMemoryManager, nullptr);
        if ((inOptions & kXMLValidateAlways) != 0)
            parser.setValidationScheme(SAXParser::Val_Always);
        else if ((inOptions & kXMLValidateNever) != 0)
            parser.setValidationScheme(SAXParser::Val_Never);
        else
            parser.setValidationScheme(SAXParser::Val_Auto);
        parser.setDoNamespaces((inOptions & kXMLNamespaces) != 0);
        parser.setLoadExternalDTD((inOptions & kXMLLoadExternalDTD) != 0);
        parser.setDisableDefaultEntityResolution(true);
        parser.setSecurityManager(&security);

        SAX_Handlers adapter(&parser, this, inHandler, static_cast<unsigned long long>(inSize) + kMaxExpandedTextBytes);
        parser.installAdvDocHandler(&adapter);
        parser.setErrorHandler(&adapter);
        parser.setEntityResolver(&adapter);

        std::unique_ptr<InputSource> source;
        if (inLocalFile) {
            source = std::make_unique<LocalFileInputSource>(AsXMLCh(inSystemID));
        } else {
            auto memory = std::make_unique<MemBufInputSource>(bytes, memorySize, AsXMLCh(inSystemID), false);
            // The caller's bytes outlive the parse: the library reads them
            // in place.
            memory->setCopyBufToStream(false);
            source = std::move(memory);
            if (inForcedEncoding != nullptr)
                source->setEncoding(AsXMLCh(inForcedEncoding));
        }
        try {
            parser.parse(*source);
            ok = parser.getErrorCount() == 0;
        } catch (const StopParse&) {
            ok = false;
        }
    } catch (const XMLException& e) {
        VString message;
        SetFromXMLCh(message, e.getMessage());
        ThrowXMLError(3, message, VString(inSystemID), VString(), 0, 0);
    } catch (const SAXParseException& e) {
        VString message, systemID, publicID;
        SetFromXMLCh(message, e.getMessage());
        SetFromXMLCh(systemID, e.getSystemId());
        SetFromXMLCh(publicID, e.getPublicId());
        ThrowXMLError(3, message, systemID, publicID, ClampToInt(e.getLineNumber()), ClampToInt(e.getColumnNumber()));
    } catch (const SAXException& e) {
        VString message;
        SetFromXMLCh(message, e.getMessage());
        ThrowXMLError(3, message, VString(inSystemID), VString(), 0, 0);
    } catch (const OutOfMemoryException&) {
        ThrowXMLError(3, VString("out of memory"), VString(inSystemID), VString(), 0, 0);
    } catch (const std::bad_alloc&) {
        ThrowXMLError(3, VString("out of memory"), VString(inSystemID), VString(), 0, 0);
    }
    return ok;
}

void StartXercesOnce()
{
    static std::once_flag sStarted;
    std::call_once(sStarted, [] { VXMLParser::Init(); });
}

bool VXMLParser::Init()
{
    // The parser's network accessor is ours and refuses every URL; naming
    // it here puts it in the link ahead of the library's libcurl-based one.
    (void)XercesNetAccessorRefusesURLs();
    XMLPlatformUtils::Initialize();
    return true;
}

void VXMLParser::DeInit()
{
    XMLPlatformUtils::Terminate();
}

}  // namespace qelt
