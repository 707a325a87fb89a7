#include "values/VBagArray.h"

#include <new>

#include "kernel/VString.h"
#include "kernel/VThrowError.h"
#include "values/VBagStreamIO.h"
#include "values/VValueBag.h"

namespace qelt {

VBagArray::VBagArray() = default;

VBagArray::VBagArray(const VBagArray& source) : VObject(), IRefCountable()
{
    fBags.reserve(source.fBags.size());
    for (VValueBag* bag : source.fBags)
        fBags.push_back(new VValueBag(*bag));
}

VBagArray::~VBagArray()
{
    Destroy();
}

bool VBagArray::AddTail(VValueBag* bag)
{
    if (bag == nullptr)
        return false;
    try {
        fBags.push_back(bag);
    } catch (const std::bad_alloc&) {
        return false;
    }
    bag->Retain();
    return true;
}

bool VBagArray::AddNth(VValueBag* bag, int n)
{
    if (bag == nullptr)
        return false;
    size_t pos = n < 1 ? 0 : static_cast<size_t>(n - 1);
    if (pos > fBags.size())
        pos = fBags.size();
    try {
        fBags.insert(fBags.begin() + static_cast<ptrdiff_t>(pos), bag);
    } catch (const std::bad_alloc&) {
        return false;
    }
    bag->Retain();
    return true;
}

void VBagArray::SetNth(VValueBag* bag, int n)
{
    if (bag == nullptr || n < 1 || n > GetCount())
        return;
    VValueBag*& entry = fBags[n - 1];
    if (entry == bag)
        return;
    bag->Retain();
    VValueBag* old = entry;
    entry = bag;
    old->Release();
}

void VBagArray::DeleteNth(int n)
{
    if (n < 1 || n > GetCount())
        return;
    VValueBag* bag = fBags[n - 1];
    fBags.erase(fBags.begin() + (n - 1));
    bag->Release();
}

void VBagArray::Delete(VValueBag* bag)
{
    int n = Find(bag);
    if (n > 0)
        fBags.erase(fBags.begin() + (n - 1));
}

int VBagArray::Find(VValueBag* bag) const
{
    for (size_t i = 0; i < fBags.size(); ++i) {
        if (fBags[i] == bag)
            return static_cast<int>(i + 1);
    }
    return 0;
}

VValueBag* VBagArray::RetainNth(int n)
{
    if (n < 1 || n > GetCount())
        return new VValueBag();
    VValueBag* bag = fBags[n - 1];
    bag->Retain();
    return bag;
}

void VBagArray::Destroy()
{
    std::vector<VValueBag*> bags;
    bags.swap(fBags);
    for (VValueBag* bag : bags)
        bag->Release();
}

VError VBagArray::WriteToStreamMinimal(VStream* stream) const
{
    bagio::PutUInt32(stream, static_cast<unsigned int>(fBags.size()));
    for (VValueBag* bag : fBags) {
        if (bag->WriteToStreamMinimal(stream, true) != VE_OK)
            break;
    }
    return bagio::StreamError(stream);
}

VError VBagArray::ReadFromStreamMinimal(VStream* stream)
{
    if (bagio::StreamError(stream) != VE_OK)
        return bagio::StreamError(stream);
    unsigned int count = 0;
    bagio::GetUInt32(stream, count);
    if (bagio::StreamError(stream) != VE_OK)
        return bagio::StreamError(stream);
    // Each body takes at least its flags byte, so the count can only be
    // trusted as far as bytes arrive: the list grows bag by bag.
    for (unsigned int i = 0; i < count; ++i) {
        VValueBag* bag = new (std::nothrow) VValueBag();
        if (bag == nullptr) {
            _ThrowError(QeltError(100));
            return QeltError(100);
        }
        VError err = bag->ReadFromStreamMinimal(stream);
        if (err != VE_OK) {
            bag->Release();
            return err;
        }
        try {
            fBags.push_back(bag);  // the list keeps the initial reference
        } catch (const std::bad_alloc&) {
            bag->Release();
            _ThrowError(QeltError(100));
            return QeltError(100);
        }
    }
    return VE_OK;
}

VError VBagArray::_GetJSONString(VString& text, int& level, bool pretty, unsigned int options) const
{
    AppendBeginJSONArray(text, level, pretty);
    bool first = true;
    for (VValueBag* bag : fBags) {
        if (!first)
            text.AppendUniChar(',');
        first = false;
        bag->_GetJSONString(text, level, pretty, options);
    }
    AppendEndJSONArray(text, level, pretty);
    return VE_OK;
}

}  // namespace qelt
