// XML and JSON unescaping of strings; escaping then unescaping gives back
// the text.
#include "fuzz/FuzzSupport.h"
#include "kernel/VString.h"

using namespace qelt;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    fuzz::Setup();
    fuzz::Scope scope;
    VString text;
    fuzz::MakeText(data, size, text);

    VString xml(text);
    xml.TranscodeFromXML();
    VString fromXML;
    fromXML.FromXMLString(text);

    VString json;
    json.FromJSONString(text, 0);
    VString quotedJSON;
    quotedJSON.FromJSONString(text, 1);

    // Round trips.
    VString escaped(text);
    escaped.TranscodeToXML(size > 0 && (data[0] & 2) != 0);
    escaped.TranscodeFromXML();
    fuzz::Check(escaped.EqualToStringRaw(text) || (size > 0 && (data[0] & 2) != 0),
                "XML escaping round trip gives the same text");
    VString jsonText;
    if (text.GetJSONString(jsonText, 0) == VE_OK) {
        VString back;
        back.FromJSONString(jsonText, 0);
        fuzz::Check(back.EqualToStringRaw(text), "JSON escaping round trip gives the same text");
    }
    return 0;
}
