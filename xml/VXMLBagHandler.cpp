#include "xml/VXMLBagHandler.h"

#include "files/IFile.h"
#include "files/VFile.h"
#include "files/VFileDesc.h"
#include "files/VFolder.h"
#include "files/VStream.h"
#include "runtime/VErrorContext.h"
#include "runtime/VTask.h"
#include "values/VValueBag.h"
#include "xml/VXMLParser.h"
#include "xml/XMLFileReplace.h"

namespace qelt {

namespace {

const char kXMLDeclarationUTF16[] = "<?xml version=\"1.0\" encoding=\"UTF-16\"?>";
const char kXMLDeclarationUTF8[] = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>";
const char kStreamRootName[] = "bag";
constexpr int kStreamVersion = 1;

}  // namespace

VXMLBagHandler::VXMLBagHandler(VValueBag* inBag)
{
    fBagStack.AddTail(inBag);
    fLevels.emplace_back();
}

namespace {

bool IsBlank(const VString& inText)
{
    for (int i = 1; i <= inText.GetLength(); ++i) {
        if (!IXMLHandler::WCharIsSpace(inText.GetUniChar(i)))
            return false;
    }
    return true;
}

}  // namespace

void VXMLBagHandler::_FlushBlanks(Level& ioLevel, VValueBag* inBag)
{
    if (!ioLevel.fPendingBlanks.IsEmpty()) {
        if (inBag != nullptr)
            inBag->AppendToCData(ioLevel.fPendingBlanks);
        ioLevel.fPendingBlanks.Clear();
    }
}

VXMLBagHandler::~VXMLBagHandler() = default;

IXMLHandler* VXMLBagHandler::StartElement(const VString& inElementName)
{
    VRefPtr<VValueBag> child = AdoptRef(new VValueBag);
    const int count = fBagStack.GetCount();
    if (count > 0) {
        VRefPtr<VValueBag> top = AdoptRef(fBagStack.RetainNth(count));
        if (top)
            top->AddElement(StPackedDictionaryKey(inElementName), child.Get());
    }
    if (!fLevels.empty()) {
        fLevels.back().fPendingBlanks.Clear();
        fLevels.back().fHasChildren = true;
    }
    fBagStack.AddTail(child.Get());
    fLevels.emplace_back();
    Retain();
    return this;
}

void VXMLBagHandler::EndElement(const VString&)
{
    const int count = fBagStack.GetCount();
    if (count > 0) {
        if (!fLevels.empty() && !fLevels.back().fHasChildren) {
            VRefPtr<VValueBag> top = AdoptRef(fBagStack.RetainNth(count));
            _FlushBlanks(fLevels.back(), top.Get());
        }
        fBagStack.DeleteNth(count);
    }
    if (!fLevels.empty())
        fLevels.pop_back();
}

void VXMLBagHandler::SetAttribute(const VString& inName, const VString& inValue)
{
    const int count = fBagStack.GetCount();
    if (count == 0)
        return;
    VRefPtr<VValueBag> top = AdoptRef(fBagStack.RetainNth(count));
    if (top)
        top->SetAttribute(StPackedDictionaryKey(inName), inValue);
}

void VXMLBagHandler::SetText(const VString& inText)
{
    const int count = fBagStack.GetCount();
    if (count == 0)
        return;
    VRefPtr<VValueBag> top = AdoptRef(fBagStack.RetainNth(count));
    if (!top || fLevels.empty())
        return;
    Level& level = fLevels.back();
    if (IsBlank(inText)) {
        level.fPendingBlanks.AppendString(inText);
        return;
    }
    _FlushBlanks(level, top.Get());
    top->AppendToCData(inText);
}

VXMLBagHandler_UniqueElement::VXMLBagHandler_UniqueElement(VValueBag* inBag, const VString& inElementName)
    : fBag(RetainRefCountable(inBag)), fElementName(inElementName)
{
}

VXMLBagHandler_UniqueElement::~VXMLBagHandler_UniqueElement()
{
    ReleaseRefCountable(fBag);
}

IXMLHandler* VXMLBagHandler_UniqueElement::StartElement(const VString& inElementName)
{
    ++fCount;
    if (!fElementName.IsEmpty() && !inElementName.EqualToString(fElementName, false))
        return nullptr;
    if (fCount != 1)
        return nullptr;
    if (fElementName.IsEmpty())
        fElementName = inElementName;
    // The entities of the element's content are resolved from the same
    // local source as those of the document's prolog.
    VXMLBagHandler* handler = new VXMLBagHandler(fBag);
    if (fEntitiesFolder != nullptr)
        handler->SetEntitiesLocalFolder(fEntitiesPrefix, fEntitiesFolder);
    return handler;
}

void VXMLBagHandler_UniqueElement::SetText(const VString&)
{
}

VError WriteBagToStreamInXML(const VValueBag& inBag, VStream* inStream)
{
    VString text(kXMLDeclarationUTF16);
    inBag.DumpXML(text, VString(kStreamRootName), false);
    inStream->Put<int>(kStreamVersion);
    return text.WriteToStream(inStream);
}

VError ReadBagFromStreamInXML(VValueBag& ioBag, VStream* inStream)
{
    int version = 0;
    unsigned long read = 0;
    inStream->GetData(&version, sizeof(version), &read);
    if (inStream->NeedSwap())
        version = static_cast<int>(__builtin_bswap32(static_cast<unsigned int>(version)));
    if (inStream->GetLastError() != 0 || version != kStreamVersion)
        return inStream->GetLastError();

    VString text;
    VError error = text.ReadFromStream(inStream);
    if (error != 0)
        return error;

    StErrorContextInstaller errors(true, false);
    VRefPtr<VXMLBagHandler_UniqueElement> handler =
        AdoptRef(new VXMLBagHandler_UniqueElement(&ioBag, VString(kStreamRootName)));
    VXMLParser parser;
    parser.Parse(text, handler.Get(), 0);
    return errors.GetLastError();
}

namespace {

// Keeps the debugger from breaking on the errors of a parse: raises the
// current task's no-break count for the holder's life.
class StNoBreak {
public:
    StNoBreak() : fTask(VTask::GetCurrent())
    {
        if (fTask != nullptr)
            fTask->GetDebugContext().StartNoBreak();
    }
    ~StNoBreak()
    {
        if (fTask != nullptr)
            fTask->GetDebugContext().StopNoBreak();
    }
    StNoBreak(const StNoBreak&) = delete;
    StNoBreak& operator=(const StNoBreak&) = delete;

private:
    VTask* fTask;
};

// Runs the parse of a bag loader in an error context of its own, without
// breaking into the debugger on its errors; answers the last error it
// raised.
template <class Source>
VError LoadBag(const Source& inSource, const VString& inRootName, VValueBag& ioBag, unsigned int inOptions,
               const VString* inEntitiesPrefix = nullptr, VFolder* inEntitiesFolder = nullptr)
{
    StNoBreak noBreak;
    StErrorContextInstaller errors(true, false);
    VRefPtr<VXMLBagHandler_UniqueElement> handler = AdoptRef(new VXMLBagHandler_UniqueElement(&ioBag, inRootName));
    if (inEntitiesPrefix != nullptr && inEntitiesFolder != nullptr && inEntitiesFolder->Exists())
        handler->SetEntitiesLocalFolder(*inEntitiesPrefix, inEntitiesFolder);
    VXMLParser parser;
    parser.Parse(inSource, handler.Get(), inOptions);
    return errors.GetLastError();
}

}  // namespace

VError LoadBagFromXML(IFile* inFile, const VString& inRootName, VValueBag& ioBag, unsigned int inOptions)
{
    return LoadBag(inFile, inRootName, ioBag, inOptions);
}

VError LoadBagFromXML(IFile* inFile, const VString& inRootName, VValueBag& ioBag, unsigned int inOptions,
                      const VString* inEntitiesPrefix, VFolder* inEntitiesFolder)
{
    return LoadBag(inFile, inRootName, ioBag, inOptions, inEntitiesPrefix, inEntitiesFolder);
}

VError LoadBagFromXML(const VString& inText, const VString& inRootName, VValueBag& ioBag, unsigned int inOptions,
                      const VString* inEntitiesPrefix, VFolder* inEntitiesFolder)
{
    return LoadBag(inText, inRootName, ioBag, inOptions, inEntitiesPrefix, inEntitiesFolder);
}

VError WriteBagToFileInXML(const VValueBag& inBag, const VString& inRootName, IFile* inFile, bool inIndented)
{
    if (inFile == nullptr)
        return 0;
    VString text(kXMLDeclarationUTF8);
    inBag.DumpXML(text, inRootName, inIndented);

    const VFile* file = dynamic_cast<const VFile*>(inFile);
    if (file == nullptr) {
        // A file that is not on disk has no place beside it.
        const VError error = inFile->SetContentAsString(text, VTC_UTF_8, eCRM_NONE, false);
        if (error != 0)
            inFile->Delete();
        return error;
    }

    return WriteFileBesideAndRename(*file, [&](const VFile& inTemp) {
        return inTemp.SetContentAsString(text, VTC_UTF_8, eCRM_NONE, false);
    });
}

VError LoadBagFromXML(const VString& inText, const VString& inRootName, VValueBag& ioBag, unsigned int inOptions)
{
    return LoadBag(inText, inRootName, ioBag, inOptions);
}

}  // namespace qelt
