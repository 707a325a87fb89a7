// The bag stream reader on arbitrary bytes; a bag it accepts must write out
// and read back to the same bytes.
#include <cstring>

#include "files/VConstPtrStream.h"
#include "files/VPtrStream.h"
#include "fuzz/FuzzSupport.h"
#include "values/VValueBag.h"

using namespace qelt;

namespace {

// Writes the bag; false when the writer refused it.
bool Write(const VValueBag& bag, VPtrStream& out)
{
    if (out.OpenWriting() != VE_OK)
        return false;
    VError err = bag.WriteToStream(&out);
    out.CloseWriting();
    return err == VE_OK;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    fuzz::Setup();
    fuzz::Scope scope;

    VValueBag* bag = new VValueBag;
    VConstPtrStream in(data, size);
    in.OpenReading();
    VError err = bag->ReadFromStream(&in);
    in.CloseReading();
    if (err == VE_OK) {
        VPtrStream first;
        if (Write(*bag, first)) {
            VValueBag* again = new VValueBag;
            VConstPtrStream back(first.GetDataPtr(), first.GetDataSize());
            back.OpenReading();
            VError backErr = again->ReadFromStream(&back);
            back.CloseReading();
            fuzz::Check(backErr == VE_OK, "a written bag reads back");
            VPtrStream second;
            fuzz::Check(Write(*again, second), "a read-back bag writes");
            fuzz::Check(first.GetDataSize() == second.GetDataSize() &&
                            (first.GetDataSize() == 0 ||
                             std::memcmp(first.GetDataPtr(), second.GetDataPtr(), first.GetDataSize()) == 0),
                        "bag round trip gives the same bytes");
            again->Release();
        }
    }
    bag->Release();
    return 0;
}
