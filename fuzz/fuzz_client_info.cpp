// A client-customisation file from outside: JSON text to the server link
// file's bag, its XML text, and back through the XML bag reader, which must
// give the same five attributes.
#include <string>

#include "fuzz/FuzzSupport.h"
#include "fuzz/LinkFileCheck.h"
#include "json/VJSONImporter.h"
#include "json/VJSONObject.h"
#include "json/VJSONValue.h"
#include "kernel/VBoolean.h"
#include "updater/UpdaterClientKeys.h"
#include "updater/VUpdateEngine.h"
#include "values/VValueBag.h"
#include "xml/VXMLBagHandler.h"

using namespace qelt;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    fuzz::Setup();
    fuzz::Scope scope;
    VString text;
    fuzz::MakeText(data, size, text);

    VJSONValue settings;
    if (VJSONImporter::ParseString(text, settings, 0) != 0 || !settings.IsObject())
        return 0;
    VRefPtr<VValueBag> bag = AdoptRef(new VValueBag);
    if (!VUpdateEngine::BuildServerLinkBag(*settings.GetObject(), *bag))
        return 0;

    VString xml("<?xml version=\"1.0\" encoding=\"UTF-8\"?>");
    bag->DumpXML(xml, VString("database_shortcut"), false);
    VRefPtr<VValueBag> back = AdoptRef(new VValueBag);
    VError error = LoadBagFromXML(xml, VString("database_shortcut"), *back, 0);
    fuzz::Check(error == 0, "the link file's text reads back");
    fuzz::CheckLinkBagReadsBack(*bag, *back);
    return 0;
}
