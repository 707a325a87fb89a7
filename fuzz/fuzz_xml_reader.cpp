// XML bytes through the bag reader; whatever it reads must write to the
// stream form and read back the same.

#include "files/VPtrStream.h"
#include "fuzz/FuzzSupport.h"
#include "values/VBlob.h"
#include "values/VValueBag.h"
#include "xml/IXMLDomWrapper.h"
#include "xml/VUTIManager.h"
#include "xml/VXMLBagHandler.h"
#include "xml/VXMLParser.h"

using namespace qelt;

namespace {

VString Dump(const VValueBag& inBag)
{
    VString text;
    inBag.DumpXML(text, VString("bag"), false);
    return text;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    fuzz::SetupXML();
    fuzz::Scope scope;

    // The bytes as a document, the library detecting their encoding.
    VRefPtr<VValueBag> bag = AdoptRef(new VValueBag);
    {
        VRefPtr<VXMLBagHandler_UniqueElement> handler = AdoptRef(new VXMLBagHandler_UniqueElement(bag.Get(), VString()));
        VXMLParser parser;
        parser.Parse(data, size, handler.Get(), size > 0 ? data[0] & 0x1F : 0);
    }

    // The same bytes as a text.
    {
        VString text;
        fuzz::MakeText(data, size, text);
        VValueBag fromText;
        LoadBagFromXML(text, VString(), fromText, 2);
    }

    // The same text as type declarations, linked.
    {
        VString text;
        fuzz::MakeText(data, size, text);
        VRefPtr<VUTIManager> types = AdoptRef(new VUTIManager);
        types->_LoadXMLText(text);
        for (const auto& [id, type] : types->GetUTIs()) {
            fuzz::Check(!type->IsParent(type), "a type is never its own ancestor");
            type->ConformsToIdentifier(VString("public.data"));
        }
        VRefPtr<VUTI> preferred = AdoptRef(
            types->UTTypeCreatePreferredIdentifierForTag(VString(kUTTagClassFilenameExtension), VString("x"), VString()));
    }

    // The bytes as a DOM document, walked into a bag and serialised.
    if (VXMLDOMNode_opaque* document = IXMLDomWrapper::CreateNodeDocumentFromBuffer(data, size, nullptr)) {
        VValueBag fromDom;
        ReadBagFromDomXML(IXMLDomWrapper::GetNodeFromNodeElement(IXMLDomWrapper::GetRootNodeElement(document)),
                          fromDom);
        VBlobWithPtr blob;
        size_t written = 0;
        IXMLDomWrapper::SerializeToBlob(document, &blob, 0, written, size > 1 && (data[1] & 1) != 0);
        IXMLDomWrapper::ReleaseNode(document);
    }

    // What was read goes through the stream form and back unchanged.
    VPtrStream stream;
    fuzz::Check(stream.OpenWriting() == 0, "open writing");
    fuzz::Check(WriteBagToStreamInXML(*bag, &stream) == 0, "write");
    stream.CloseWriting();
    fuzz::Check(stream.OpenReading() == 0, "open reading");
    VValueBag read;
    fuzz::Check(ReadBagFromStreamInXML(read, &stream) == 0, "read back");
    stream.CloseReading();
    fuzz::Check(Dump(read).EqualToStringRaw(Dump(*bag)), "bag read back equal");
    return 0;
}
