#include "values/VArrayImage.h"

#include <new>

#include "files/VStream.h"
#include "kernel/VValueInfo.h"
#include "kernel/VThrowError.h"

namespace qelt {

namespace {

constexpr VError kErrorUnsupported = QeltError(2);
constexpr VError kErrorFewerBytes = QeltError(200);

}  // namespace

VArrayImage::VArrayImage(int inCount) : VArrayValue(0)
{
    if (inCount > 0)
        SetCount(inCount);
}

VArrayImage::~VArrayImage() { DeleteAllElements(); }

const VValueInfo* VArrayImage::GetValueInfo() const { return &sInfo; }

unsigned short VArrayImage::GetElemValueKind() const { return kImageKind; }

bool VArrayImage::SetCount(int inCount)
{
    if (inCount < 0)
        inCount = 0;
    size_t wanted = static_cast<size_t>(inCount);
    for (size_t i = wanted; i < fImages.size(); ++i) {
        delete fImages[i];
        fImages[i] = nullptr;
    }
    try {
        fImages.resize(wanted, nullptr);
    } catch (const std::bad_alloc&) {
        fCount = static_cast<int>(fImages.size());
        return false;
    }
    fCount = inCount;
    return true;
}

bool VArrayImage::Copy(const VArrayValue& inSource)
{
    if (&inSource == this)
        return true;
    const VArrayImage* source = dynamic_cast<const VArrayImage*>(&inSource);
    DeleteAllElements();
    if (source == nullptr)
        return false;
    if (!SetCount(source->fCount))
        return false;
    for (size_t i = 0; i < fImages.size(); ++i) {
        if (source->fImages[i] != nullptr)
            fImages[i] = static_cast<VValueSingle*>(source->fImages[i]->Clone());
    }
    return true;
}

void VArrayImage::FromValue(const VValueSingle& inValue, int inPosition)
{
    const VValueInfo* info = inValue.GetValueInfo();
    if (info == nullptr || info->GetKind() != kImageKind || !ValidIndex(inPosition))
        return;
    VValue* clone = inValue.Clone();
    VValueSingle* single = clone != nullptr ? clone->IsVValueSingle() : nullptr;
    if (single == nullptr) {
        delete clone;
        return;
    }
    delete fImages[static_cast<size_t>(inPosition - 1)];
    fImages[static_cast<size_t>(inPosition - 1)] = single;
}

void VArrayImage::GetValue(VValueSingle& outValue, int inPosition) const
{
    if (!ValidIndex(inPosition))
        return;
    const VValueSingle* element = fImages[static_cast<size_t>(inPosition - 1)];
    if (element == nullptr)
        return;
    // Only the null and dirty flags: the other bits of a value's flags byte
    // belong to its own class.
    outValue.SetNull(element->IsNull());
    outValue.SetDirty(element->IsDirty());
}

VValueSingle* VArrayImage::CloneValue(int inPosition) const
{
    if (!ValidIndex(inPosition))
        return nullptr;
    const VValueSingle* element = fImages[static_cast<size_t>(inPosition - 1)];
    if (element == nullptr)
        return nullptr;
    VValue* clone = element->Clone();
    VValueSingle* single = clone != nullptr ? clone->IsVValueSingle() : nullptr;
    if (single == nullptr)
        delete clone;
    return single;
}

int VArrayImage::Find(const VValueSingle&, int, unsigned char, CompareMethod) { return 0; }

void VArrayImage::SwapElements(unsigned char*, int, int) {}

CompareResult VArrayImage::CompareElements(unsigned char*, int, int) { return CR_UNRELEVANT; }

void VArrayImage::DeleteElements(int inFrom, int inNumber)
{
    if (fCount == 0 || inNumber < 1)
        return;
    for (int p = inFrom; p < inFrom + inNumber; ++p) {
        if (p >= 1 && p <= static_cast<int>(fImages.size())) {
            delete fImages[static_cast<size_t>(p - 1)];
            fImages[static_cast<size_t>(p - 1)] = nullptr;
        }
    }
}

void VArrayImage::DeleteAllElements()
{
    for (VValueSingle* image : fImages)
        delete image;
    fImages.clear();
    fCount = 0;
}

VError VArrayImage::ReadFromStream(VStream* ioStream, int)
{
    DeleteAllElements();
    int count = 0;
    int numbers = 1;
    ioStream->GetLongs(&count, &numbers);
    VError err = ioStream->GetLastError();
    if (err != VE_OK)
        return err;
    if (numbers != 1)
        return kErrorFewerBytes;
    if (count <= 0) {
        if (count < 0) {
            _ThrowError(kErrorFewerBytes);
            return kErrorFewerBytes;
        }
        return VE_OK;
    }
    const VValueInfo* info = VValue::ValueInfoFromValueKind(kImageKind);
    if (info == nullptr) {
        // The elements cannot be built here: say so rather than leave them
        // unread in silence.
        _ThrowError(kErrorUnsupported);
        return kErrorUnsupported;
    }
    err = _CheckAvailable(ioStream, count, count);
    if (err != VE_OK)
        return err;
    for (int i = 0; i < count; ++i) {
        VValue* value = info->Generate();
        VValueSingle* single = value != nullptr ? value->IsVValueSingle() : nullptr;
        if (single == nullptr) {
            delete value;
            _ThrowError(kErrorUnsupported);
            return kErrorUnsupported;
        }
        err = single->ReadFromStream(ioStream, 0);
        try {
            fImages.push_back(single);
        } catch (const std::bad_alloc&) {
            delete single;
            fCount = static_cast<int>(fImages.size());
            _ThrowError(QeltError(100));
            return QeltError(100);
        }
        fCount = static_cast<int>(fImages.size());
        if (err != VE_OK)
            return err;
    }
    return ioStream->GetLastError();
}

VError VArrayImage::WriteToStream(VStream* ioStream, int) const
{
    int count = fCount;
    VError err = ioStream->PutLongs(&count, 1);
    for (size_t i = 0; err == VE_OK && i < fImages.size(); ++i) {
        if (fImages[i] != nullptr) {
            err = fImages[i]->WriteToStream(ioStream, 0);
        } else {
            const unsigned char zeros[8] = {};
            err = ioStream->PutData(zeros, sizeof(zeros));
        }
    }
    return ioStream->GetLastError();
}

}  // namespace qelt
