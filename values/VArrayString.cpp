#include "values/VArrayString.h"

#include "files/VStream.h"
#include "kernel/VString.h"

namespace qelt {

namespace {

constexpr int kMarkerPresent = 2;
constexpr int kMarkerAbsent = 0x4E554C4C;  // 'NULL'

// The international comparison of two texts (the current task's collator).
CompareResult CompareTexts(const VString& a, const VString& b, bool inDiacritical)
{
    return a.CompareToString(b, inDiacritical);
}

bool EqualTexts(const VString& a, const VString& b, bool inDiacritical)
{
    return a.EqualToString(b, inDiacritical);
}

}  // namespace

VArrayString::VArrayString(int inCount) : VArrayValue(sizeof(VString*)) { _InitCount(inCount); }

VArrayString::VArrayString(const VArrayString& inSource) : VArrayValue(sizeof(VString*)) { Copy(inSource); }

VArrayString::~VArrayString() { DeleteElements(0, fCount); }

const VValueInfo* VArrayString::GetValueInfo() const { return &sInfo; }

VValue* VArrayString::Clone() const { return new VArrayString(*this); }

bool VArrayString::CanBeEvaluated() const { return true; }

unsigned short VArrayString::GetElemValueKind() const { return 10; }

void VArrayString::FromString(const VString& inValue, int inPosition)
{
    if (!ValidIndex(inPosition))
        return;
    VString*& element = _Elems()[inPosition - 1];
    if (element != nullptr)
        element->FromString(inValue);
    else
        element = static_cast<VString*>(inValue.Clone());
}

void VArrayString::GetString(VString& outValue, int inPosition) const
{
    const VString* element = _At(inPosition);
    if (element == nullptr)
        outValue.Clear();
    else
        outValue.FromString(*element);
}

void VArrayString::GetValue(VValueSingle& outValue, int inPosition) const
{
    const VString* element = _At(inPosition);
    if (element == nullptr)
        outValue.Clear();
    else
        outValue.FromString(*element);
}

void VArrayString::FromValue(const VValueSingle& inValue, int inPosition)
{
    VString text;
    text.FromValue(inValue);
    FromString(text, inPosition);
}

VValueSingle* VArrayString::CloneValue(int inPosition) const
{
    VString* value = new VString();
    GetValue(*value, inPosition);
    return value;
}

CompareResult VArrayString::CompareTo(const VValueSingle& inValue, bool inDiacritical, int inPosition) const
{
    if (!ValidIndex(inPosition))
        return CR_SMALLER;
    VString text;
    inValue.GetString(text);
    const VString* element = _At(inPosition);
    if (element == nullptr)
        return text.IsEmpty() ? CR_EQUAL : CR_SMALLER;  // an absent element reads as the empty text
    return CompareTexts(*element, text, inDiacritical);
}

int VArrayString::Find(const VValueSingle& inValue, int inStart, unsigned char inForward, CompareMethod inMethod)
{
    VString text;
    inValue.GetString(text);
    return Find(text, inStart, inForward, inMethod);
}

int VArrayString::Find(const VString& inValue, int inStart, unsigned char inForward, CompareMethod inMethod)
{
    if (fData == nullptr || fCount <= 0 || inStart < 1 || inStart > fCount)
        return -1;
    if (inMethod < CM_GREATER_OR_EQUAL || inMethod > CM_LESS_OR_EQUAL)
        return inStart;
    int step = inForward != 0 ? 1 : -1;
    for (int p = inStart; p >= 1 && p <= fCount; p += step) {
        const VString* element = _Elems()[p - 1];
        if (element == nullptr)
            continue;
        bool pass = false;
        if (inMethod == CM_EQUAL) {
            pass = EqualTexts(*element, inValue, false);
        } else {
            CompareResult r = CompareTexts(*element, inValue, false);
            switch (inMethod) {
                case CM_GREATER_OR_EQUAL: pass = r >= 0; break;
                case CM_GREATER: pass = r == CR_BIGGER; break;
                case CM_LESS: pass = r == CR_SMALLER; break;
                case CM_LESS_OR_EQUAL: pass = r <= 0 && r != CR_UNRELEVANT; break;
                default: break;
            }
        }
        if (pass)
            return p;
    }
    return -1;
}

int VArrayString::QuickFind(const VString& inValue) const
{
    if (fData == nullptr)
        return -1;
    int lo = 0;
    int hi = fCount - 1;
    while (lo <= hi) {
        int mid = lo + (hi - lo) / 2;
        const VString* element = _Elems()[mid];
        // An absent element reads as the empty text, the smallest of all.
        CompareResult r;
        if (element == nullptr)
            r = inValue.IsEmpty() ? CR_EQUAL : CR_BIGGER;
        else
            r = CompareTexts(inValue, *element, false);
        if (r == CR_SMALLER)
            hi = mid - 1;
        else if (r == CR_EQUAL)
            return mid + 1;
        else
            lo = mid + 1;
    }
    return -1;
}

bool VArrayString::Copy(const VArrayValue& inSource)
{
    if (&inSource == this)
        return true;
    if (!VArrayValue::Copy(inSource))
        return false;
    VString** elems = _Elems();
    for (int i = 0; i < fCount; ++i) {
        if (elems[i] != nullptr)
            elems[i] = static_cast<VString*>(elems[i]->Clone());
    }
    return true;
}

void VArrayString::DeleteElements(int inFrom, int inNumber)
{
    if (fData == nullptr || inFrom < 0 || inNumber < 0 || static_cast<long long>(inFrom) + inNumber > fCount)
        return;
    VString** elems = _Elems();
    for (int i = inFrom; i < inFrom + inNumber; ++i) {
        delete elems[i];
        elems[i] = nullptr;
    }
}

void VArrayString::SwapElements(unsigned char* inData, int i, int j)
{
    VString** elems = reinterpret_cast<VString**>(inData);
    VString* t = elems[i];
    elems[i] = elems[j];
    elems[j] = t;
}

CompareResult VArrayString::CompareElements(unsigned char* inData, int i, int j)
{
    VString** elems = reinterpret_cast<VString**>(inData);
    const VString* a = elems[i];
    const VString* b = elems[j];
    if (a == nullptr || b == nullptr) {
        if (a == b)
            return CR_EQUAL;
        return a == nullptr ? CR_SMALLER : CR_BIGGER;
    }
    return CompareTexts(*a, *b, true);
}

VError VArrayString::ReadFromStream(VStream* ioStream, int)
{
    int count = 0;
    // Every element takes at least its four-byte marker.
    VError err = _ReadHeaderAndResize(ioStream, 4, count);
    if (err != VE_OK)
        return err;
    VString** elems = _Elems();
    for (int i = 0; i < count; ++i) {
        int marker = 0;
        int numbers = 1;
        ioStream->GetLongs(&marker, &numbers);
        err = ioStream->GetLastError();
        if (err != VE_OK)
            return err;
        if (marker == kMarkerPresent) {
            if (elems[i] == nullptr)
                elems[i] = new VString();
            err = elems[i]->ReadFromStream(ioStream, 0);
            if (err != VE_OK)
                return err;
        } else {
            delete elems[i];
            elems[i] = nullptr;
        }
    }
    return ioStream->GetLastError();
}

VError VArrayString::WriteToStream(VStream* ioStream, int inParam) const
{
    VError err = _WriteHeader(ioStream, inParam);
    VString** elems = _Elems();
    for (int i = 0; err == VE_OK && i < fCount; ++i) {
        int marker = elems[i] != nullptr ? kMarkerPresent : kMarkerAbsent;
        err = ioStream->PutLongs(&marker, 1);
        if (err == VE_OK && elems[i] != nullptr)
            err = elems[i]->WriteToStream(ioStream, 0);
    }
    return ioStream->GetLastError();
}

}  // namespace qelt
