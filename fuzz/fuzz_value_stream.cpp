// The stream forms of every value kind: values read one after another from
// arbitrary bytes; each value read must write out and read back to the same
// bytes. The first byte chooses the stream's byte order.
#include <cstring>

#include "files/VConstPtrStream.h"
#include "files/VPtrStream.h"
#include "fuzz/FuzzSupport.h"
#include "kernel/VValue.h"

using namespace qelt;

namespace {

bool Write(const VValue& value, VPtrStream& out, bool swap)
{
    out.SetNeedSwap(swap);
    if (out.OpenWriting() != VE_OK)
        return false;
    VError err = out.PutValue(value, true);
    out.CloseWriting();
    return err == VE_OK;
}

bool SameBytes(const VPtrStream& a, const VPtrStream& b)
{
    return a.GetDataSize() == b.GetDataSize() &&
           (a.GetDataSize() == 0 || std::memcmp(a.GetDataPtr(), b.GetDataPtr(), a.GetDataSize()) == 0);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    fuzz::Setup();
    fuzz::Scope scope;
    if (size == 0)
        return 0;
    const bool swap = (data[0] & 1) != 0;

    VConstPtrStream in(data + 1, size - 1);
    in.SetNeedSwap(swap);
    in.OpenReading();
    for (int i = 0; i < 16; ++i) {
        long long before = in.GetPos();
        VValue* value = in.GetValue();
        if (value == nullptr)
            break;
        VPtrStream first;
        if (Write(*value, first, swap)) {
            VConstPtrStream back(first.GetDataPtr(), first.GetDataSize());
            back.SetNeedSwap(swap);
            back.OpenReading();
            VValue* again = back.GetValue();
            back.CloseReading();
            fuzz::Check(again != nullptr, "a written value reads back");
            VPtrStream second;
            fuzz::Check(Write(*again, second, swap), "a read-back value writes");
            fuzz::Check(SameBytes(first, second), "value round trip gives the same bytes");
            fuzz::DisposeValue(again);
        }
        fuzz::DisposeValue(value);
        if (in.GetPos() == before)
            break;
    }
    in.CloseReading();
    return 0;
}
