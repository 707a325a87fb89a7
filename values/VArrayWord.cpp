#include "values/VArrayWord.h"

#include <climits>

#include "files/VStream.h"
#include "kernel/VWord.h"

namespace qelt {

VArrayWord::VArrayWord(int inCount) : VArrayValue(sizeof(short)) { _InitCount(inCount); }

VArrayWord::VArrayWord(const VArrayWord& inSource) : VArrayValue(sizeof(short)) { Copy(inSource); }

VArrayWord::~VArrayWord() = default;

const VValueInfo* VArrayWord::GetValueInfo() const { return &sInfo; }

VValue* VArrayWord::Clone() const { return new VArrayWord(*this); }

bool VArrayWord::CanBeEvaluated() const { return true; }

unsigned short VArrayWord::GetElemValueKind() const { return 3; }

short VArrayWord::GetWord(int inPosition) const
{
    return ValidIndex(inPosition) ? _Elems()[inPosition - 1] : static_cast<short>(0);
}

void VArrayWord::FromWord(short inValue, int inPosition)
{
    if (ValidIndex(inPosition))
        _Elems()[inPosition - 1] = inValue;
}

void VArrayWord::GetValue(VValueSingle& outValue, int inPosition) const { outValue.FromWord(GetWord(inPosition)); }

void VArrayWord::FromValue(const VValueSingle& inValue, int inPosition) { FromWord(inValue.GetWord(), inPosition); }

VValueSingle* VArrayWord::CloneValue(int inPosition) const
{
    VWord* value = new VWord();
    GetValue(*value, inPosition);
    return value;
}

CompareResult VArrayWord::CompareTo(const VValueSingle& inValue, bool, int inPosition) const
{
    return _CompareScalars<short>(GetWord(inPosition), inValue.GetWord());
}

int VArrayWord::Find(const VValueSingle& inValue, int inStart, unsigned char inForward, CompareMethod inMethod)
{
    return Find(inValue.GetWord(), inStart, inForward, inMethod);
}

int VArrayWord::Find(short inValue, int inStart, unsigned char inForward, CompareMethod inMethod)
{
    return _FindInBlock<short>(_Elems(), fCount, inValue, inStart, inForward, inMethod);
}

int VArrayWord::QuickFind(short inValue) const { return _QuickFindInBlock<short>(_Elems(), fCount, inValue); }

short VArrayWord::GetMax() const
{
    short result = -32768;
    const short* elems = _Elems();
    for (int i = 0; i < fCount; ++i) {
        if (elems[i] > result)
            result = elems[i];
    }
    return result;
}

short VArrayWord::GetMin() const
{
    short result = 32767;
    const short* elems = _Elems();
    for (int i = 0; i < fCount; ++i) {
        if (elems[i] < result)
            result = elems[i];
    }
    return result;
}

void VArrayWord::Sort(int inFrom, int inTo, bool inDescending)
{
    if (inFrom < 1 || inFrom >= inTo || inTo > fCount)
        return;
    QSort<short>(_Elems() + (inFrom - 1), inTo - inFrom + 1, inDescending);
}

void VArrayWord::SwapElements(unsigned char* inData, int i, int j)
{
    short* elems = reinterpret_cast<short*>(inData);
    short t = elems[i];
    elems[i] = elems[j];
    elems[j] = t;
}

CompareResult VArrayWord::CompareElements(unsigned char* inData, int i, int j)
{
    const short* elems = reinterpret_cast<const short*>(inData);
    return _CompareScalars<short>(elems[i], elems[j]);
}

VError VArrayWord::ReadFromStream(VStream* ioStream, int)
{
    int count = 0;
    VError err = _ReadHeaderAndResize(ioStream, sizeof(short), count);
    if (err != VE_OK || count == 0)
        return err;

    int read = count;
    ioStream->GetWords(reinterpret_cast<short*>(fData), &read);
    return ioStream->GetLastError();
}

VError VArrayWord::WriteToStream(VStream* ioStream, int inParam) const
{
    VError err = _WriteHeader(ioStream, inParam);
    if (err == VE_OK && fCount > 0)
        ioStream->PutWords(reinterpret_cast<const short*>(fData), fCount);
    return ioStream->GetLastError();
}

}  // namespace qelt
