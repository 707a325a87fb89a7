// UUID text in every reader; a UUID read writes out as text and reads back
// to the same bytes.
#include <cstring>
#include <string>

#include "fuzz/FuzzSupport.h"
#include "values/VUUID.h"

using namespace qelt;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    fuzz::Setup();
    fuzz::Scope scope;
    VString text;
    fuzz::MakeText(data, size, text);

    VUUID uuid;
    uuid.FromString(text);
    VString written;
    uuid.GetString(written);
    VUUID back;
    back.FromString(written);
    fuzz::Check(std::memcmp(back.GetBytes(), uuid.GetBytes(), 16) == 0, "UUID round trip gives the same bytes");

    VUUID xml;
    xml.FromXMLString(text);
    VUUID json;
    json.FromJSONString(text, 0);
    VUUID ansi;
    ansi.BuildFromAnsiString(text);
    VUUID::IsUUIDString(text, true);
    std::string raw(reinterpret_cast<const char*>(data), size);
    VUUID fromBuffer;
    fromBuffer.FromBuffer(raw.c_str());
    return 0;
}
