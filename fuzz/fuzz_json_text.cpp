// The JSON text readers: the importer with the options its callers pass,
// the bag reader and the array reader. A parsed value written as standard
// JSON text, read and written again, gives the same text (when the first
// read succeeded: a failed one leaves only what it built so far).
//
// The first byte picks the options (low three bits: one of the callers'
// words; 0x8 adds the paths and lines, 0x10 the shared import); the rest is
// UTF-8 text.
#include "fuzz/FuzzSupport.h"
#include "json/json.h"
#include "values/VValueBag.h"

using namespace qelt;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    fuzz::Setup();
    fuzz::Scope scope;
    fuzz::Bytes bytes(data, size);
    static const uint32_t kCallers[] = {0, 0x3, 0x83, 0xC0, 0x200, 0x240};
    const uint8_t pick = bytes.Byte();
    uint32_t options = kCallers[(pick & 7) % 6];
    if ((pick & 0x8) != 0)
        options |= 0x8;
    if ((pick & 0x10) != 0)
        options |= 0x100;
    const std::string rest = bytes.Rest();
    VString text(rest.data(), static_cast<unsigned long>(rest.size()), VTC_UTF_8);

    VJSONValue value(JSON_undefined);
    VError parsed;
    {
        VJSONImporter importer(text, options);
        parsed = importer.Parse(value);
    }

    VRefPtr<VValueBag> bag = AdoptRef(new VValueBag());
    bag->FromJSONString(text, (pick & 0x20) != 0 ? 0x1000 : 0);
    VString bagText;
    bag->GetJSONString(bagText, 0);

    VJSONArrayReader reader(text);
    std::vector<VString> items;
    reader.ToArrayString(items, false);

    VString first;
    if (parsed == VE_OK && value.Stringify(first, 0x1) == VE_OK) {
        VJSONValue again(JSON_undefined);
        fuzz::Check(VJSONImporter::ParseString(first, again, 0) == VE_OK, "written JSON text reads back");
        VString second;
        fuzz::Check(again.Stringify(second, 0x1) == VE_OK, "read-back value writes");
        fuzz::Check(second.EqualToStringRaw(first), "written, read and written again gives the same text");
    }
    return 0;
}
