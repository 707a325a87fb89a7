// A client-customisation file from outside, read whole as the updater reads
// it: the bytes are the file (any encoding mark, any text), loaded as JSON;
// an object naming a server gives the server link bag, written as the link
// file beside it and read back with the same five attributes.
#include <cstdio>
#include <string>

#include "files/VFile.h"
#include "fuzz/FuzzSupport.h"
#include "fuzz/LinkFileCheck.h"
#include "json/VJSONObject.h"
#include "json/VJSONValue.h"
#include "updater/UpdaterClientKeys.h"
#include "updater/VUpdateEngine.h"
#include "values/VValueBag.h"
#include "xml/VXMLBagHandler.h"

using namespace qelt;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    fuzz::SetupXML();
    fuzz::Scope scope;
    const std::string path = fuzz::ScratchFolder() + "/client.json";
    FILE* out = std::fopen(path.c_str(), "wb");
    if (out == nullptr)
        std::abort();
    if (size > 0)
        std::fwrite(data, 1, size, out);
    std::fclose(out);

    VJSONValue settings;
    {
        VRefPtr<VFile> file = AdoptRef(new VFile(VString(path.c_str()), FPS_POSIX));
        settings.LoadFromFile(file.Get(), false);
    }
    if (!settings.IsObject())
        return 0;
    VRefPtr<VValueBag> bag = AdoptRef(new VValueBag);
    if (!VUpdateEngine::BuildServerLinkBag(*settings.GetObject(), *bag))
        return 0;

    VRefPtr<VFile> link = AdoptRef(new VFile(VString((fuzz::ScratchFolder() + "/link.xml").c_str()), FPS_POSIX));
    fuzz::Check(WriteBagToFileInXML(*bag, VString("database_shortcut"), link.Get(), false) == VE_OK,
                "the link file is written");
    VRefPtr<VValueBag> read = AdoptRef(new VValueBag);
    fuzz::Check(LoadBagFromXML(link.Get(), VString("database_shortcut"), *read, 0) == VE_OK,
                "the link file reads back");
    fuzz::CheckLinkBagReadsBack(*bag, *read);
    return 0;
}
