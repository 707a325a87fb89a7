// RFC 3339, XML and JSON time text, and the legacy text forms; a time with a
// date read from RFC 3339 or XML text writes out and reads back to the same
// instant. (A time of the zero date carries any count of milliseconds, which
// the text form cannot always hold, and years past 9999 take five digits, so
// those are not round-tripped.)
#include "fuzz/FuzzSupport.h"
#include "values/VTime.h"

using namespace qelt;

namespace {

bool HasDate(const VTime& time)
{
    VString text;
    time.GetRfc3339String(text, VTime::kRfc3339UTC);
    // Years past 9999 are written with five digits, which the four-digit
    // reader does not take back: those are left out too.
    return !text.BeginsWithRawString(VString("0000-00-00")) && text.GetLength() > 4 &&
           text.GetCPointer()[4] == '-';
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    fuzz::Setup();
    fuzz::Scope scope;
    VString text;
    fuzz::MakeText(data, size, text);

    VTime rfc;
    if (rfc.FromRfc3339String(text) && !rfc.IsNull() && HasDate(rfc)) {
        VString written;
        rfc.GetRfc3339String(written, VTime::kRfc3339UTC);
        VTime back;
        fuzz::Check(back.FromRfc3339String(written), "written RFC 3339 text reads back");
        fuzz::Check(back.GetStamp() == rfc.GetStamp(), "RFC 3339 round trip gives the same time");
    }
    VTime xml;
    if (xml.FromXMLString(text) && !xml.IsNull() && HasDate(xml)) {
        VString written;
        xml.GetXMLString(written, VTime::kRfc3339UTC);
        VTime back;
        fuzz::Check(back.FromXMLString(written), "written XML time text reads back");
        fuzz::Check(back.GetStamp() == xml.GetStamp(), "XML time round trip gives the same time");
    }
    VTime json;
    json.FromJSONString(text, 0);
    VTime legacy;
    legacy.FromString(text);
    VTime mail;
    mail.FromRfc822String(text);
    return 0;
}
