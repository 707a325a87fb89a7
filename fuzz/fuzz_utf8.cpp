// The UTF-8 coder of the platform layer on arbitrary bytes: in every mode,
// whole and in small steps. No refused sequence may yield a '/' or '.' that
// the bytes did not hold; replaced text must be well formed and read back
// unchanged; the first byte chooses the step size.
#include <cstring>
#include <vector>

#include "fuzz/FuzzSupport.h"
#include "platform/PlatUTF8.h"

using namespace qelt;

namespace {

size_t CountByte(const uint8_t* inData, size_t inSize, uint8_t inByte)
{
    size_t n = 0;
    for (size_t i = 0; i < inSize; ++i)
        n += inData[i] == inByte ? 1 : 0;
    return n;
}

size_t CountUnit(const std::vector<unsigned short>& inUnits, unsigned short inUnit)
{
    size_t n = 0;
    for (unsigned short u : inUnits)
        n += u == inUnit ? 1 : 0;
    return n;
}

// Decodes everything in steps of at most inStep target units.
std::vector<unsigned short> DecodeAll(const uint8_t* inData, size_t inSize, plat::UTF8Mode inMode, size_t inStep)
{
    std::vector<unsigned short> out;
    std::vector<unsigned short> step(inStep + 1);
    size_t at = 0;
    while (at < inSize) {
        step[inStep] = 0xFEED;
        plat::UTF8Result r = plat::DecodeUTF8(inData + at, inSize - at, step.data(), inStep, inMode, true);
        fuzz::Check(step[inStep] == 0xFEED, "a step writes nothing past its target");
        fuzz::Check(r.produced <= inStep && r.consumed <= inSize - at, "a step stays within its bounds");
        if (r.consumed == 0)
            break;
        out.insert(out.end(), step.begin(), step.begin() + static_cast<long>(r.produced));
        at += r.consumed;
    }
    fuzz::Check(at == inSize || inStep < 2, "with room for a pair, every byte is read");
    return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 1)
        return 0;
    const size_t step = 1 + data[0] % 9;
    const uint8_t* bytes = data + 1;
    const size_t count = size - 1;

    for (plat::UTF8Mode mode : {plat::UTF8Mode::kConverter, plat::UTF8Mode::kReplace, plat::UTF8Mode::kPath}) {
        std::vector<unsigned short> whole = DecodeAll(bytes, count, mode, count * 2 + 2);
        std::vector<unsigned short> stepped = DecodeAll(bytes, count, mode, step);
        if (step >= 2)
            fuzz::Check(whole == stepped, "decoding in steps gives the same text");
        fuzz::Check(CountUnit(whole, '/') == CountByte(bytes, count, '/'), "every '/' comes from a '/' byte");
        fuzz::Check(CountUnit(whole, '.') == CountByte(bytes, count, '.'), "every '.' comes from a '.' byte");

        if (mode == plat::UTF8Mode::kReplace) {
            // Well formed: it encodes without replacement and reads back.
            std::string again = plat::UTF16ToUTF8(whole.data(), whole.size(), plat::UTF8Mode::kReplace);
            plat::UTF8Result counted =
                plat::EncodeUTF8(whole.data(), whole.size(), nullptr, 0, plat::UTF8Mode::kReplace, true);
            fuzz::Check(counted.ok && counted.produced == again.size(), "replaced text is well formed");
            std::vector<unsigned short> back = DecodeAll(reinterpret_cast<const uint8_t*>(again.data()),
                                                         again.size(), mode, again.size() + 2);
            fuzz::Check(back == whole, "replaced text reads back unchanged");
        }
        if (mode == plat::UTF8Mode::kPath) {
            // Paths: every byte comes back as it was, whole and by counting.
            std::string again = plat::UTF16ToUTF8(whole.data(), whole.size(), plat::UTF8Mode::kPath);
            fuzz::Check(again.size() == count && (count == 0 || std::memcmp(again.data(), bytes, count) == 0),
                        "path bytes round-trip");
        }
    }
    return 0;
}
