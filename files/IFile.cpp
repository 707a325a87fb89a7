#include "files/IFile.h"

#include <cstring>

#include "kernel/VMemory.h"
#include "kernel/VTextConverter.h"
#include "kernel/VTextConverters.h"
#include "runtime/VErrorBase.h"
#include "runtime/VErrorContext.h"

namespace qelt {

void IFile::GetNameWithoutExtension(VString& outName) const { GetPath().GetFileName(outName, false); }

VError IFile::GetContentAsString(VString& outText, CharSet inCharSet, ECarriageReturnMode inMode) const
{
    StErrorContextInstaller errors(true, false);
    VMemoryBuffer<1024, 2, 1048576> buffer;
    if (GetContent(buffer) != VE_OK) {
        outText.Clear();
    } else {
        outText.FromBlockWithOptionalBOM(buffer.GetDataPtr(), static_cast<unsigned long>(buffer.GetDataSize()),
                                         inCharSet);
        outText.ConvertCarriageReturns(inMode);
    }
    return errors.GetLastError();
}

VError IFile::SetContentAsString(const VString& inText, CharSet inCharSet, ECarriageReturnMode inMode,
                                 bool inWithBOM) const
{
    StErrorContextInstaller errors(true, false);
    VString text(inText);
    text.ConvertCarriageReturns(inMode);
    VRefPtr<VFromUnicodeConverter> encoder =
        AdoptRef(VTextConverters::Get()->RetainFromUnicodeConverter(inCharSet));
    if (!encoder || !encoder->IsValid()) {
        _ThrowError(QeltError(208));
        return errors.GetLastError();
    }
    void* block = nullptr;
    unsigned long used = 0;
    unsigned long markSize = 0;
    const unsigned char* mark = inWithBOM ? VTextConverters::GetBOMForCharSet(inCharSet, &markSize) : nullptr;
    if (mark != nullptr && markSize > 0 && text.GetLength() > 0) {
        // The mark goes first: the encoder appends after the bytes already used.
        block = VMemory::NewPtr(markSize, static_cast<int>(FourCC("text")));
        if (block == nullptr) {
            _ThrowError(QeltError(100));
            return errors.GetLastError();
        }
        std::memcpy(block, mark, markSize);
        used = markSize;
    }
    if (encoder->ConvertRealloc(text.GetCPointer(), text.GetLength(), block, used, 0))
        SetContent(block, used);
    VMemory::DisposePtr(block);
    return errors.GetLastError();
}

}  // namespace qelt
