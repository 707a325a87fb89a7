// Every decoder of the charset registry on arbitrary bytes, whole and in
// small steps, and the matching encoder on what was decoded. The first byte
// chooses the set.
#include <vector>

#include "fuzz/FuzzSupport.h"
#include "kernel/VTextConverters.h"
#include "values/VMemoryBuffer.h"

using namespace qelt;

namespace {

const CharSet kSets[] = {
    VTC_UTF_8, VTC_UTF_32_BIGENDIAN, VTC_UTF_32_SMALLENDIAN, VTC_UTF_32_RAW, VTC_UTF_32_RAW_SWAPPED,
    VTC_UTF_16_BIGENDIAN, VTC_UTF_16_SMALLENDIAN, VTC_UTF_7, VTC_US_ASCII, VTC_EBCDIC_037, VTC_IBM437,
    VTC_SYSTEM, VTC_UNKNOWN, VTC_MacRoman, VTC_Win32Ansi, VTC_MacCentralEurRoman, VTC_WinLatin2,
    VTC_MacCyrillic, VTC_WinCyrillic, VTC_MacGreek, VTC_WinGreek, VTC_MacTurkish, VTC_WinTurkish,
    VTC_MacArabic, VTC_WinArabic, VTC_MacHebrew, VTC_WinHebrew, VTC_MacBaltic, VTC_WinBaltic,
    VTC_MacChineseSimplified, VTC_WinChineseSimplified, VTC_MacChineseTraditional,
    VTC_WinChineseTraditional, VTC_MacJapanese, VTC_ShiftJIS, VTC_Japanese_ISO2022, VTC_Big5,
    VTC_Korean_EUC, VTC_KOI8R, VTC_ISO_8859_1, VTC_ISO_8859_2, VTC_ISO_8859_3, VTC_ISO_8859_4,
    VTC_ISO_8859_5, VTC_ISO_8859_6, VTC_ISO_8859_7, VTC_ISO_8859_8, VTC_ISO_8859_9, VTC_ISO_8859_10,
    VTC_ISO_8859_13, VTC_GB2312, VTC_GB2312_80, VTC_ISO_8859_15, VTC_WINDOWS_31J,
};
constexpr size_t kSetCount = sizeof(kSets) / sizeof(kSets[0]);

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    fuzz::Setup();
    fuzz::Scope scope;
    if (size < 2)
        return 0;
    const CharSet set = kSets[data[0] % kSetCount];
    const int step = 1 + data[1] % 8;  // target units per conversion step
    const uint8_t* bytes = data + 2;
    const unsigned long count = static_cast<unsigned long>(size - 2);
    VTextConverters* converters = VTextConverters::Get();

    // Whole, through the registry and through the string.
    VString whole;
    converters->ConvertToVString(bytes, count, set, whole);
    VString viaString(bytes, count, set);
    VString withBOM;
    withBOM.FromBlockWithOptionalBOM(bytes, count, set);
    unsigned long bomSize = 0;
    CharSet bomSet = VTC_UNKNOWN;
    VTextConverters::ParseBOM(bytes, count, &bomSize, &bomSet);
    fuzz::Check(bomSize <= count, "a byte-order mark lies within the bytes");

    // In small steps: every step must stay within its target and move on.
    VToUnicodeConverter* decoder = converters->RetainToUnicodeConverter(set);
    fuzz::Check(decoder != nullptr, "a decoder for every set");
    std::vector<UniChar> target(static_cast<size_t>(step) + 1);
    unsigned long offset = 0;
    for (int guard = 0; offset < count && guard < 100000; ++guard) {
        target[static_cast<size_t>(step)] = 0xFEED;
        unsigned long consumed = 0;
        int produced = 0;
        bool ok = decoder->Convert(bytes + offset, count - offset, &consumed, target.data(), step, &produced);
        fuzz::Check(produced >= 0 && produced <= step, "a step stays within its target");
        fuzz::Check(target[static_cast<size_t>(step)] == 0xFEED, "a step writes nothing past its target");
        fuzz::Check(consumed <= count - offset, "a step consumes only what it was given");
        if (!ok || consumed == 0)
            break;
        offset += consumed;
    }
    decoder->Release();

    // And back into the set.
    VFromUnicodeConverter* encoder = converters->RetainFromUnicodeConverter(set);
    fuzz::Check(encoder != nullptr, "an encoder for every set");
    VMemoryBuffer<1024ul, 2ul, 1048576ul> buffer;
    encoder->ConvertToBuffer(whole.GetCPointer(), whole.GetLength(), buffer, 0);
    std::vector<uint8_t> small(static_cast<size_t>(step) + 1);
    int consumedUnits = 0;
    unsigned long producedBytes = 0;
    small[static_cast<size_t>(step)] = 0xA5;
    encoder->Convert(whole.GetCPointer(), whole.GetLength(), &consumedUnits, small.data(),
                     static_cast<unsigned long>(step), &producedBytes);
    fuzz::Check(producedBytes <= static_cast<unsigned long>(step) && small[static_cast<size_t>(step)] == 0xA5,
                "an encoder step writes nothing past its target");
    encoder->Release();
    return 0;
}
