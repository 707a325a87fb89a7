// The event-style XML reader on a generated 10 MB XLIFF-like document,
// through VXMLParser with a counting handler stack, against the bare XML
// library's SAX2 reader with a counting handler and against libxml2's SAX
// parser, with the same options (no validation, no namespaces, no external
// DTD). Each reports the document's size as bytes processed.
#include <benchmark/benchmark.h>

#include <string>

#include <xercesc/framework/MemBufInputSource.hpp>
#include <xercesc/sax2/Attributes.hpp>
#include <xercesc/sax2/DefaultHandler.hpp>
#include <xercesc/sax2/SAX2XMLReader.hpp>
#include <xercesc/sax2/XMLReaderFactory.hpp>
#include <xercesc/util/XMLUni.hpp>

#ifdef QELT_HAVE_LIBXML2
#include <libxml/parser.h>
#endif

#include "kernel/VCppMemMgr.h"
#include "kernel/VObject.h"
#include "xml/IXMLHandler.h"
#include "xml/VXMLParser.h"

using namespace qelt;

namespace {

const std::string& Document()
{
    static const std::string sDocument = [] {
        std::string text = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<xliff version=\"1.2\">"
                           "<file original=\"App\" source-language=\"en\" target-language=\"fr\"><body>\n";
        for (int group = 0; text.size() < 10u * 1024 * 1024; ++group) {
            text += "<group id=\"" + std::to_string(group) + "\" resname=\"group" + std::to_string(group) + "\">\n";
            for (int unit = 1; unit <= 20; ++unit) {
                text += "  <trans-unit id=\"" + std::to_string(unit) + "\" resname=\"key_" + std::to_string(group) +
                        "_" + std::to_string(unit) + "\" qv:includeIf=\"mac linux\">\n"
                        "    <source>The file could not be opened because it is in use &amp; locked.</source>\n"
                        "    <target>Le fichier n'a pas pu \xC3\xAAtre ouvert car il est utilis\xC3\xA9.</target>\n"
                        "  </trans-unit>\n";
            }
            text += "</group>\n";
        }
        return text + "</body></file></xliff>\n";
    }();
    return sDocument;
}

void Setup()
{
    static const bool sDone = [] {
        if (VObject::sCppMemMgr == nullptr)
            VObject::sCppMemMgr = new VCppMemMgr(eAllocatorMalloc);
        VXMLParser::Init();
        return true;
    }();
    (void)sDone;
}

// Takes every element itself and counts what it sees.
class CountingHandler : public VObject, public IXMLHandler {
public:
    IXMLHandler* StartElement(const VString&) override
    {
        ++fElements;
        Retain();
        return this;
    }
    void SetAttribute(const VString&, const VString&) override { ++fAttributes; }
    void SetText(const VString& inText) override { fCharacters += static_cast<size_t>(inText.GetLength()); }

    size_t fElements = 0;
    size_t fAttributes = 0;
    size_t fCharacters = 0;
};

class CountingSAX2Handler : public xercesc::DefaultHandler {
public:
    void startElement(const XMLCh* const, const XMLCh* const, const XMLCh* const,
                      const xercesc::Attributes& inAttributes) override
    {
        ++fElements;
        fAttributes += inAttributes.getLength();
    }
    void characters(const XMLCh* const, const XMLSize_t inLength) override { fCharacters += inLength; }

    size_t fElements = 0;
    size_t fAttributes = 0;
    size_t fCharacters = 0;
};

void BM_VXMLParser(benchmark::State& state)
{
    Setup();
    const std::string& document = Document();
    for (auto _ : state) {
        VRefPtr<CountingHandler> handler = AdoptRef(new CountingHandler);
        VXMLParser parser;
        if (!parser.Parse(document.data(), document.size(), handler.Get(), kXMLValidateNever))
            state.SkipWithError("parse failed");
        benchmark::DoNotOptimize(handler->fElements + handler->fAttributes + handler->fCharacters);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * document.size()));
}
BENCHMARK(BM_VXMLParser)->Unit(benchmark::kMillisecond);

void BM_XercesSAX2(benchmark::State& state)
{
    Setup();
    using namespace xercesc;
    const std::string& document = Document();
    for (auto _ : state) {
        SAX2XMLReader* reader = XMLReaderFactory::createXMLReader();
        reader->setFeature(XMLUni::fgSAX2CoreValidation, false);
        reader->setFeature(XMLUni::fgSAX2CoreNameSpaces, false);
        reader->setFeature(XMLUni::fgXercesLoadExternalDTD, false);
        CountingSAX2Handler handler;
        reader->setContentHandler(&handler);
        reader->setErrorHandler(&handler);
        MemBufInputSource source(reinterpret_cast<const XMLByte*>(document.data()), document.size(), "bench", false);
        source.setCopyBufToStream(false);
        reader->parse(source);
        benchmark::DoNotOptimize(handler.fElements + handler.fAttributes + handler.fCharacters);
        delete reader;
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * document.size()));
}
BENCHMARK(BM_XercesSAX2)->Unit(benchmark::kMillisecond);

#ifdef QELT_HAVE_LIBXML2
struct LibXml2Counts {
    size_t fElements = 0;
    size_t fAttributes = 0;
    size_t fCharacters = 0;
};

void BM_LibXml2SAX(benchmark::State& state)
{
    const std::string& document = Document();
    xmlSAXHandler sax{};
    sax.startElement = [](void* inContext, const xmlChar*, const xmlChar** inAttributes) {
        auto* counts = static_cast<LibXml2Counts*>(inContext);
        ++counts->fElements;
        for (const xmlChar** a = inAttributes; a != nullptr && *a != nullptr; a += 2)
            ++counts->fAttributes;
    };
    sax.characters = [](void* inContext, const xmlChar*, int inLength) {
        static_cast<LibXml2Counts*>(inContext)->fCharacters += static_cast<size_t>(inLength);
    };
    for (auto _ : state) {
        LibXml2Counts counts;
        if (xmlSAXUserParseMemory(&sax, &counts, document.data(), static_cast<int>(document.size())) != 0)
            state.SkipWithError("parse failed");
        benchmark::DoNotOptimize(counts.fElements + counts.fAttributes + counts.fCharacters);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * document.size()));
}
BENCHMARK(BM_LibXml2SAX)->Unit(benchmark::kMillisecond);
#endif

}  // namespace
