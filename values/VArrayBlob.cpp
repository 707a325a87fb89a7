#include "values/VArrayBlob.h"

#include "files/VStream.h"
#include "values/VBlob.h"

namespace qelt {

namespace {

const VBlob* AsBlob(const VValueSingle& inValue) { return dynamic_cast<const VBlob*>(&inValue); }

}  // namespace

VArrayBlob::VArrayBlob(int inCount) : VArrayValue(sizeof(VBlobWithPtr*)) { _InitCount(inCount); }

VArrayBlob::VArrayBlob(const VArrayBlob& inSource) : VArrayValue(sizeof(VBlobWithPtr*)) { Copy(inSource); }

VArrayBlob::~VArrayBlob() { DeleteElements(0, fCount); }

const VValueInfo* VArrayBlob::GetValueInfo() const { return &sInfo; }

VValue* VArrayBlob::Clone() const { return new VArrayBlob(*this); }

bool VArrayBlob::CanBeEvaluated() const { return true; }

unsigned short VArrayBlob::GetElemValueKind() const { return 11; }

void VArrayBlob::FromValue(const VValueSingle& inValue, int inPosition)
{
    const VBlob* blob = AsBlob(inValue);
    if (!ValidIndex(inPosition) || blob == nullptr)
        return;
    VBlobWithPtr*& element = _Elems()[inPosition - 1];
    if (element != nullptr)
        element->FromValueSameKind(blob);
    else
        element = new VBlobWithPtr(*blob);
}

void VArrayBlob::GetValue(VValueSingle& outValue, int inPosition) const
{
    const VBlobWithPtr* element = _At(inPosition);
    if (element == nullptr || dynamic_cast<VBlob*>(&outValue) == nullptr)
        outValue.Clear();
    else
        outValue.FromValueSameKind(element);
}

VValueSingle* VArrayBlob::CloneValue(int inPosition) const
{
    VBlobWithPtr* value = new VBlobWithPtr();
    GetValue(*value, inPosition);
    return value;
}

CompareResult VArrayBlob::CompareTo(const VValueSingle& inValue, bool, int inPosition) const
{
    if (!ValidIndex(inPosition))
        return CR_SMALLER;
    const VBlob* blob = AsBlob(inValue);
    if (blob == nullptr)
        return CR_UNRELEVANT;
    const VBlobWithPtr* element = _At(inPosition);
    if (element == nullptr) {
        VBlobWithPtr empty;
        return empty.CompareToSameKind(blob, false);
    }
    return element->CompareToSameKind(blob, false);
}

int VArrayBlob::Find(const VValueSingle&, int, unsigned char, CompareMethod) { return -1; }

bool VArrayBlob::Copy(const VArrayValue& inSource)
{
    if (&inSource == this)
        return true;
    if (!VArrayValue::Copy(inSource))
        return false;
    VBlobWithPtr** elems = _Elems();
    for (int i = 0; i < fCount; ++i) {
        if (elems[i] != nullptr)
            elems[i] = new VBlobWithPtr(*elems[i]);
    }
    return true;
}

void VArrayBlob::DeleteElements(int inFrom, int inNumber)
{
    if (fData == nullptr || inFrom < 0 || inNumber < 0 || static_cast<long long>(inFrom) + inNumber > fCount)
        return;
    VBlobWithPtr** elems = _Elems();
    for (int i = inFrom; i < inFrom + inNumber; ++i) {
        delete elems[i];
        elems[i] = nullptr;
    }
}

void VArrayBlob::SwapElements(unsigned char* inData, int i, int j)
{
    VBlobWithPtr** elems = reinterpret_cast<VBlobWithPtr**>(inData);
    VBlobWithPtr* t = elems[i];
    elems[i] = elems[j];
    elems[j] = t;
}

CompareResult VArrayBlob::CompareElements(unsigned char* inData, int i, int j)
{
    VBlobWithPtr** elems = reinterpret_cast<VBlobWithPtr**>(inData);
    const VBlobWithPtr* a = elems[i];
    const VBlobWithPtr* b = elems[j];
    if (a == nullptr || b == nullptr) {
        if (a == b)
            return CR_EQUAL;
        return a == nullptr ? CR_SMALLER : CR_BIGGER;
    }
    return a->CompareToSameKind(b, false);
}

VError VArrayBlob::ReadFromStream(VStream* ioStream, int)
{
    int count = 0;
    // Every element takes at least its four-byte size.
    VError err = _ReadHeaderAndResize(ioStream, 4, count);
    if (err != VE_OK)
        return err;
    VBlobWithPtr** elems = _Elems();
    for (int i = 0; i < count; ++i) {
        if (elems[i] == nullptr)
            elems[i] = new VBlobWithPtr();
        err = elems[i]->ReadFromStream(ioStream, 0);
        if (err != VE_OK)
            return err;
    }
    return ioStream->GetLastError();
}

VError VArrayBlob::WriteToStream(VStream* ioStream, int inParam) const
{
    VError err = _WriteHeader(ioStream, inParam);
    VBlobWithPtr** elems = _Elems();
    for (int i = 0; err == VE_OK && i < fCount; ++i) {
        if (elems[i] != nullptr) {
            err = elems[i]->WriteToStream(ioStream, 0);
        } else {
            // An absent element travels as an empty blob.
            int size = 0;
            err = ioStream->PutLongs(&size, 1);
        }
    }
    return ioStream->GetLastError();
}

}  // namespace qelt
