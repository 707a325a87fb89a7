// The binary JSON importer: any bytes are read as one value. A value read is
// written in binary form, read and written again: the two writings give the
// same bytes.
#include <cstring>

#include "fuzz/FuzzSupport.h"
#include "json/json.h"

using namespace qelt;

namespace {

bool Write(const VJSONValue& inValue, VJSONBinaryBuffer& outBuffer)
{
    VJSONBinaryWriter writer;
    return writer.StreamValue(inValue, outBuffer) == VE_OK;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    fuzz::Setup();
    fuzz::Scope scope;
    VJSONValue value(JSON_undefined);
    {
        VJSONBinaryImporter importer(data, size);
        if (importer.GetValue(value) != VE_OK)
            return 0;
    }
    VJSONBinaryBuffer first;
    if (Write(value, first)) {
        VJSONValue again(JSON_undefined);
        VJSONBinaryImporter importer(first.GetDataPtr(), static_cast<size_t>(first.GetDataSize()));
        fuzz::Check(importer.GetValue(again) == VE_OK, "written binary JSON reads back");
        VJSONBinaryBuffer second;
        fuzz::Check(Write(again, second), "read-back value writes");
        fuzz::Check(second.GetDataSize() == first.GetDataSize() &&
                        std::memcmp(second.GetDataPtr(), first.GetDataPtr(), first.GetDataSize()) == 0,
                    "written, read and written again gives the same bytes");
    }
    return 0;
}
