// ISO 8601 and colon duration text; a duration read from ISO 8601 text
// writes out and reads back to the same duration (checked for whole seconds
// only, as the written fraction goes through single precision, and within
// the days an int holds).
#include "fuzz/FuzzSupport.h"
#include "values/VDuration.h"

using namespace qelt;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    fuzz::Setup();
    fuzz::Scope scope;
    VString text;
    fuzz::MakeText(data, size, text);

    VDuration xml;
    if (xml.FromXMLString(text)) {
        VString written;
        xml.GetXMLString(written, 1);
        // The written days are an int: round trips are checked within that.
        const long long ms = xml.ConvertToMilliseconds();
        if (ms % 1000 == 0 && ms >= 0 && ms / 86400000 <= 0x7FFFFFFF) {
            VDuration back;
            fuzz::Check(back.FromXMLString(written), "written ISO 8601 text reads back");
            fuzz::Check(back.ConvertToMilliseconds() == xml.ConvertToMilliseconds(),
                        "ISO 8601 round trip gives the same duration");
        }
    }
    // The colon form (its writer gives milliseconds, not the colon form, so
    // there is no round trip to check).
    VDuration colon;
    colon.FromString(text);
    VString formatted;
    colon.GetFormattedString(formatted);
    VDuration json;
    json.FromJSONString(text, 0);
    return 0;
}
