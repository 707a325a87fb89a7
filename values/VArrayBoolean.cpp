#include "values/VArrayBoolean.h"

#include <cstring>

#include "files/VStream.h"
#include "kernel/VBoolean.h"

namespace qelt {

namespace {

// The number of set bits of each byte value.
struct BitCounts {
    unsigned char fCounts[256];
    constexpr BitCounts() : fCounts()
    {
        for (int v = 0; v < 256; ++v) {
            int n = 0;
            for (int b = v; b != 0; b >>= 1)
                n += b & 1;
            fCounts[v] = static_cast<unsigned char>(n);
        }
    }
};

constexpr BitCounts kBitCounts;

}  // namespace

VArrayBoolean::VArrayBoolean(int inCount) : VArrayValue(0) { _InitCount(inCount); }

VArrayBoolean::VArrayBoolean(const VArrayBoolean& inSource) : VArrayValue(0) { Copy(inSource); }

VArrayBoolean::~VArrayBoolean() = default;

const VValueInfo* VArrayBoolean::GetValueInfo() const { return &sInfo; }

VValue* VArrayBoolean::Clone() const { return new VArrayBoolean(*this); }

bool VArrayBoolean::CanBeEvaluated() const { return true; }

unsigned short VArrayBoolean::GetElemValueKind() const { return 1; }

long long VArrayBoolean::_BlockSizeFor(int inCount) const { return static_cast<long long>(inCount) / 8 + 1; }

bool VArrayBoolean::SetCount(int inCount)
{
    int old = fCount;
    if (!VArrayValue::SetCount(inCount))
        return false;
    // Bits past the old count may be set (a sort leaves them so): the new
    // elements must read false.
    for (int i = old; i < fCount; ++i)
        _SetBit(fData, i, false);
    return true;
}

bool VArrayBoolean::GetBoolean(int inPosition) const
{
    return ValidIndex(inPosition) && fData != nullptr && _GetBit(fData, inPosition - 1);
}

void VArrayBoolean::FromBoolean(unsigned char inValue, int inPosition)
{
    if (ValidIndex(inPosition) && fData != nullptr)
        _SetBit(fData, inPosition - 1, inValue != 0);
}

void VArrayBoolean::GetValue(VValueSingle& outValue, int inPosition) const
{
    outValue.FromBoolean(GetBoolean(inPosition) ? 1 : 0);
}

void VArrayBoolean::FromValue(const VValueSingle& inValue, int inPosition)
{
    FromBoolean(inValue.GetBoolean() ? 1 : 0, inPosition);
}

VValueSingle* VArrayBoolean::CloneValue(int inPosition) const
{
    VBoolean* value = new VBoolean();
    GetValue(*value, inPosition);
    return value;
}

CompareResult VArrayBoolean::CompareTo(const VValueSingle& inValue, bool, int inPosition) const
{
    bool element = GetBoolean(inPosition);
    bool value = inValue.GetBoolean();
    if (element == value)
        return CR_EQUAL;
    return element ? CR_SMALLER : CR_BIGGER;
}

int VArrayBoolean::Find(const VValueSingle& inValue, int inStart, unsigned char inForward, CompareMethod inMethod)
{
    return Find(static_cast<unsigned char>(inValue.GetBoolean() ? 1 : 0), inStart, inForward, inMethod);
}

int VArrayBoolean::Find(unsigned char inValue, int inStart, unsigned char inForward, CompareMethod)
{
    if (fData == nullptr || fCount <= 0 || inStart < 1 || inStart > fCount)
        return -1;
    bool wanted = inValue != 0;
    int step = inForward != 0 ? 1 : -1;
    for (int p = inStart; p >= 1 && p <= fCount; p += step) {
        if (_GetBit(fData, p - 1) == wanted)
            return p;
    }
    return -1;
}

void VArrayBoolean::Sort(int inFrom, int inTo, bool inDescending)
{
    if (inFrom < 1 || inFrom >= inTo || inTo > fCount || fData == nullptr)
        return;
    if (inFrom != 1 || inTo != fCount) {
        VArrayValue::Sort(inFrom, inTo, inDescending);
        return;
    }
    int fullBytes = fCount / 8;
    int trues = 0;
    for (int b = 0; b < fullBytes; ++b)
        trues += kBitCounts.fCounts[fData[b]];
    for (int i = fullBytes * 8; i < fCount; ++i)
        trues += _GetBit(fData, i) ? 1 : 0;
    for (int i = 0; i < fCount; ++i) {
        bool value = inDescending ? i < trues : i >= fCount - trues;
        _SetBit(fData, i, value);
    }
}

void VArrayBoolean::Unsort() {}

void VArrayBoolean::MoveElements(int inFrom, int inTo, int inNumber)
{
    if (inFrom < 0 || inTo < 0 || inNumber <= 0 || inFrom == inTo || fData == nullptr)
        return;
    if (static_cast<long long>(inFrom) + inNumber > fCount || static_cast<long long>(inTo) + inNumber > fCount)
        return;
    if (inTo > inFrom) {
        for (int k = inNumber - 1; k >= 0; --k)
            _SetBit(fData, inTo + k, _GetBit(fData, inFrom + k));
    } else {
        for (int k = 0; k < inNumber; ++k)
            _SetBit(fData, inTo + k, _GetBit(fData, inFrom + k));
    }
}

void VArrayBoolean::InitElements(int inFrom, int inNumber)
{
    if (inFrom < 0 || inNumber <= 0 || fData == nullptr || static_cast<long long>(inFrom) + inNumber > fCount)
        return;
    for (int k = 0; k < inNumber; ++k)
        _SetBit(fData, inFrom + k, false);
}

void VArrayBoolean::SwapElements(unsigned char* inData, int i, int j)
{
    bool a = _GetBit(inData, i);
    _SetBit(inData, i, _GetBit(inData, j));
    _SetBit(inData, j, a);
}

CompareResult VArrayBoolean::CompareElements(unsigned char* inData, int i, int j)
{
    bool a = _GetBit(inData, i);
    bool b = _GetBit(inData, j);
    if (a == b)
        return CR_EQUAL;
    return a ? CR_SMALLER : CR_BIGGER;
}

VError VArrayBoolean::ReadFromStream(VStream* ioStream, int)
{
    int count = 0;
    int numbers = 1;
    ioStream->GetLongs(&count, &numbers);
    VError err = ioStream->GetLastError();
    if (err != VE_OK)
        return err;
    if (numbers != 1)
        return QeltError(200);
    long long bytes = count > 0 ? static_cast<long long>(count) / 8 + 1 : 0;
    err = _CheckAvailable(ioStream, count, bytes);
    if (err != VE_OK)
        return err;
    if (!_ResizeForRead(count, err))
        return err;
    if (count > 0)
        ioStream->GetData(fData, static_cast<unsigned long>(bytes));
    return ioStream->GetLastError();
}

VError VArrayBoolean::WriteToStream(VStream* ioStream, int inParam) const
{
    VError err = _WriteHeader(ioStream, inParam);
    if (err == VE_OK && fCount > 0 && fData != nullptr)
        ioStream->PutData(fData, static_cast<unsigned long>(fCount) / 8 + 1);
    return ioStream->GetLastError();
}

}  // namespace qelt
