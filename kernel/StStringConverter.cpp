#include "kernel/StStringConverter.h"

#include <cstring>
#include <new>

#include "kernel/VMemory.h"
#include "kernel/VString.h"
#include "kernel/VTextConverter.h"
#include "kernel/VTextConverters.h"

namespace qelt {

namespace {

// Rewrites the line ends of the string (CR LF, lone CR, lone LF) in the
// form the mode asks for.
void ApplyLineEnds(VString& ioString, ECarriageReturnMode inMode)
{
    ioString.ConvertCarriageReturns(inMode);
}

}  // namespace

StStringConverterBase::StStringConverterBase(CharSet inCharSet, ECarriageReturnMode inLineEndMode)
    : fOutput(fInlineBuffer),
      fSize(0),
      fLineEndMode(inLineEndMode),
      fOK(false),
      fCapacity(kInlineSize),
      fHeapBlock(nullptr),
      fConverter(VTextConverters::Get()->RetainFromUnicodeConverter(inCharSet)),
      fNbTrailingZeros(0)
{
    std::memset(fInlineBuffer, 0, 4);
}

StStringConverterBase::StStringConverterBase(const StStringConverterBase& inOther)
    : VObject(inOther),
      fOutput(fInlineBuffer),
      fSize(inOther.fSize),
      fLineEndMode(inOther.fLineEndMode),
      fOK(inOther.fOK),
      fCapacity(inOther.fCapacity),
      fHeapBlock(nullptr),
      fConverter(inOther.fConverter),
      fNbTrailingZeros(inOther.fNbTrailingZeros)
{
    if (fConverter != nullptr)
        fConverter->Retain();
    if (inOther.fOutput == inOther.fInlineBuffer) {
        std::memcpy(fInlineBuffer, inOther.fInlineBuffer, kInlineSize);
        return;
    }
    // A block of the source's capacity plus its terminator.
    const unsigned long zeros = fNbTrailingZeros;
    fHeapBlock = static_cast<unsigned char*>(VMemory::NewPtr(fCapacity + zeros, 0));
    if (fHeapBlock == nullptr) {
        // no memory: an empty text that says so
        fCapacity = kInlineSize;
        fSize = 0;
        fOK = false;
        std::memset(fInlineBuffer, 0, 4);
        return;
    }
    std::memcpy(fHeapBlock, inOther.fOutput, fSize);
    std::memset(fHeapBlock + fSize, 0, zeros);
    fOutput = fHeapBlock;
}

StStringConverterBase::StStringConverterBase(StStringConverterBase&& ioOther) noexcept
    : VObject(ioOther),
      fOutput(fInlineBuffer),
      fSize(ioOther.fSize),
      fLineEndMode(ioOther.fLineEndMode),
      fOK(ioOther.fOK),
      fCapacity(ioOther.fCapacity),
      fHeapBlock(nullptr),
      fConverter(ioOther.fConverter),
      fNbTrailingZeros(ioOther.fNbTrailingZeros)
{
    if (ioOther.fOutput == ioOther.fInlineBuffer) {
        std::memcpy(fInlineBuffer, ioOther.fInlineBuffer, kInlineSize);
        // the source keeps its own reference to the encoder
        if (fConverter != nullptr)
            fConverter->Retain();
        return;
    }
    fHeapBlock = ioOther.fHeapBlock;
    fOutput = fHeapBlock;
    ioOther.fHeapBlock = nullptr;
    ioOther.fConverter = nullptr;
    ioOther.fOutput = ioOther.fInlineBuffer;
    ioOther.fCapacity = kInlineSize;
    ioOther.fSize = 0;
    std::memset(ioOther.fInlineBuffer, 0, 4);
}

StStringConverterBase::~StStringConverterBase()
{
    if (fHeapBlock != nullptr)
        VMemory::DisposePtr(fHeapBlock);
    if (fConverter != nullptr)
        fConverter->Release();
}

void StStringConverterBase::_ConvertString(const UniChar* inUniPtr, int inLength, unsigned long inNbTrailingZeros)
{
    fSize = 0;
    fNbTrailingZeros = inNbTrailingZeros;
    if (fConverter == nullptr || inNbTrailingZeros > fCapacity) {
        // a converter given up by a move, or no room for the terminator
        fOK = false;
        std::memset(fOutput, 0, inNbTrailingZeros < fCapacity ? inNbTrailingZeros : fCapacity);
        return;
    }

    int consumed = 0;
    unsigned long produced = 0;
    fOK = fConverter->Convert(inUniPtr, inLength, &consumed, fOutput, fCapacity - inNbTrailingZeros, &produced);
    if (!fOK) {
        std::memset(fOutput, 0, inNbTrailingZeros);
        return;
    }
    if (consumed >= inLength) {
        fSize = produced;
    } else {
        // The text does not fit: encode all of it into the heap block.
        const bool outputWasHeap = (fOutput == fHeapBlock);
        void* block = fHeapBlock;
        unsigned long used = 0;
        fOK = fConverter->ConvertRealloc(inUniPtr, inLength, block, used, inNbTrailingZeros);
        fHeapBlock = static_cast<unsigned char*>(block);
        if (outputWasHeap)
            fOutput = fHeapBlock;
        if (!fOK) {
            if (fOutput != nullptr)
                std::memset(fOutput, 0, inNbTrailingZeros);
            return;
        }
        fOutput = fHeapBlock;
        fSize = used;
        fCapacity = used;
    }
    std::memset(fOutput + fSize, 0, inNbTrailingZeros);
}

void StStringConverterBase::_ConvertVString(const VString& inString, unsigned long inNbTrailingZeros)
{
    if (fLineEndMode == eCRM_NONE) {
        _ConvertString(inString.GetCPointer(), inString.GetLength(), inNbTrailingZeros);
        return;
    }
    VString copy(inString);
    ApplyLineEnds(copy, fLineEndMode);
    _ConvertString(copy.GetCPointer(), copy.GetLength(), inNbTrailingZeros);
}

std::string to_string(const VString& inString)
{
    std::string result;
    const int length = inString.GetLength();
    if (length <= 0)
        return result;
    VFromUnicodeConverter* converter = VTextConverters::Get()->GetStdLibFromUnicodeConverter();
    try {
        if (length < 256) {
            char buffer[512];
            int consumed = 0;
            unsigned long produced = 0;
            converter->Convert(inString.GetCPointer(), length, &consumed, buffer, sizeof(buffer), &produced);
            if (consumed == length) {
                result.assign(buffer, produced);
                if (!result.empty())
                    return result;
            }
        }
        int consumed = 0;
        unsigned long needed = 0;
        converter->Convert(inString.GetCPointer(), length, &consumed, nullptr, 0x7FFFFFFF, &needed);
        result.resize(needed);
        unsigned long produced = 0;
        converter->Convert(inString.GetCPointer(), length, &consumed, result.data(), needed, &produced);
        result.resize(produced);
    } catch (const std::exception&) {
        // what has been built so far
    }
    return result;
}

}  // namespace qelt
