// VReal's XML text reader; a number read writes out as text that reads back
// and writes out the same.
#include "fuzz/FuzzSupport.h"
#include "kernel/VReal.h"

using namespace qelt;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    fuzz::Setup();
    fuzz::Scope scope;
    VString text;
    fuzz::MakeText(data, size, text);

    VReal real;
    if (real.FromXMLString(text)) {
        VString written;
        real.GetXMLString(written, 0);
        // The text keeps 14 significant digits (and a rounded value may then
        // be written as an integer): from the second writing on, reading and
        // writing again must give the same text.
        VReal back;
        fuzz::Check(back.FromXMLString(written), "written real text reads back");
        VString again;
        back.GetXMLString(again, 0);
        VReal third;
        fuzz::Check(third.FromXMLString(again), "rewritten real text reads back");
        VString last;
        third.GetXMLString(last, 0);
        fuzz::Check(last.EqualToStringRaw(again), "real text round trip gives the same text");
    }
    VReal json;
    json.FromJSONString(text, 0);
    return 0;
}
