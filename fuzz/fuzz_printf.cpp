// Printf with format texts built from the fuzz bytes out of the directives
// the formatter supports (flags, widths and precisions, '*' arguments,
// length modifiers, %S %A %V) and literal text, each directive given an
// argument of its type. Up to three arguments per call; calls are appended.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "fuzz/FuzzSupport.h"
#include "kernel/VLong.h"
#include "kernel/VString.h"

using namespace qelt;

namespace {

enum ArgClass { kInt, kLongLong, kDouble, kLongDouble, kPointer };

struct Arg {
    ArgClass fClass;
    long long fInteger = 0;
    double fReal = 0;
    const void* fPointer = nullptr;
};


template <typename... Done>
void Dispatch(VString& out, const std::string& format, const Arg* args, size_t count, Done... done)
{
    if constexpr (sizeof...(Done) >= 3) {
        (void)args;
        (void)count;
        out.AppendPrintf(format.c_str(), done...);
    } else {
        if (count == 0) {
            if constexpr (sizeof...(Done) == 0)
                out.AppendPrintf(format.c_str());
            else
                out.AppendPrintf(format.c_str(), done...);
            return;
        }
        const Arg& a = args[0];
        switch (a.fClass) {
            case kInt:
                Dispatch(out, format, args + 1, count - 1, done..., static_cast<int>(a.fInteger));
                break;
            case kLongLong:
                Dispatch(out, format, args + 1, count - 1, done..., a.fInteger);
                break;
            case kDouble:
                Dispatch(out, format, args + 1, count - 1, done..., a.fReal);
                break;
            case kLongDouble:
                Dispatch(out, format, args + 1, count - 1, done..., static_cast<long double>(a.fReal));
                break;
            case kPointer:
                Dispatch(out, format, args + 1, count - 1, done..., a.fPointer);
                break;
        }
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    fuzz::Setup();
    fuzz::Scope scope;
    fuzz::Bytes in(data, size);

    VString text("text");
    VLong number(42);
    static const char kCString[] = "c string";
    static const char* const kFlags = "-+ #0'";
    static const char* const kIntConversions = "diouxX";
    // %A is the value directive here, not the C library's hexadecimal real.
    static const char* const kRealConversions = "eEfFgGa";
    static const char* const kIntLengths[] = {"", "hh", "h", "l", "ll", "q", "j", "z", "t"};

    VString out;
    for (int call = 0; call < 8 && !in.Empty(); ++call) {
        std::string format;
        std::vector<Arg> args;
        while (!in.Empty() && args.size() < 3 && format.size() < 200) {
            uint8_t pick = in.Byte();
            if (pick % 8 == 0) {
                // Literal text, '%' doubled.
                std::string literal = in.Text(pick / 8 % 8);
                for (char c : literal) {
                    if (c == 0)
                        c = ' ';
                    format += c;
                    if (c == '%')
                        format += '%';
                }
                continue;
            }
            if (pick % 8 == 1) {
                format += "%%";
                continue;
            }
            std::string directive = "%";
            uint8_t shape = in.Byte();
            for (int f = 0; f < (shape & 3); ++f)
                directive += kFlags[in.Byte() % 6];
            bool starWidth = false, starPrecision = false;
            if ((shape & 4) != 0) {
                if ((shape & 8) != 0) {
                    starWidth = true;
                    directive += '*';
                } else {
                    directive += std::to_string(in.Byte() % 40);
                }
            }
            if ((shape & 16) != 0) {
                directive += '.';
                if ((shape & 32) != 0) {
                    starPrecision = true;
                    directive += '*';
                } else {
                    directive += std::to_string(in.Byte() % 40);
                }
            }
            int stars = (starWidth ? 1 : 0) + (starPrecision ? 1 : 0);
            if (args.size() + static_cast<size_t>(stars) + 1 > 3)
                break;
            auto starArg = [&]() {
                Arg a{kInt};
                a.fInteger = static_cast<int>(in.U32()) % 3000;
                args.push_back(a);
            };
            if (starWidth)
                starArg();
            if (starPrecision)
                starArg();
            Arg a{kInt};
            switch (pick % 8) {
                case 2:
                case 3: {  // integers
                    const char* length = kIntLengths[in.Byte() % 9];
                    directive += length;
                    directive += kIntConversions[in.Byte() % 6];
                    std::string l(length);
                    a.fClass = (l == "l" || l == "ll" || l == "q" || l == "j" || l == "z" || l == "t") ? kLongLong
                                                                                                       : kInt;
                    a.fInteger = static_cast<long long>(in.U64());
                    break;
                }
                case 4: {  // reals
                    bool longDouble = (in.Byte() & 1) != 0;
                    if (longDouble)
                        directive += 'L';
                    directive += kRealConversions[in.Byte() % 7];
                    a.fClass = longDouble ? kLongDouble : kDouble;
                    uint64_t bits = in.U64();
                    std::memcpy(&a.fReal, &bits, sizeof(bits));
                    break;
                }
                case 5:  // a character
                    directive += 'c';
                    a.fClass = kInt;
                    a.fInteger = in.Byte();
                    break;
                case 6:  // a C string or a pointer
                    directive += (in.Byte() & 1) ? 's' : 'p';
                    a.fClass = kPointer;
                    a.fPointer = kCString;
                    break;
                default: {  // an object directive
                    uint8_t which = in.Byte() % 4;
                    directive += "SAVS"[which];
                    a.fClass = kPointer;
                    a.fPointer = which == 1 ? static_cast<const void*>(static_cast<const VObject*>(&number))
                                            : static_cast<const void*>(static_cast<const VObject*>(&text));
                    if (which == 3)
                        a.fPointer = nullptr;  // an invalid object prints a marker
                    break;
                }
            }
            args.push_back(a);
            format += directive;
        }
        if (std::getenv("FUZZ_PRINTF_DEBUG") != nullptr)
            std::fprintf(stderr, "format [%s] %zu args\n", format.c_str(), args.size());
        Dispatch(out, format, args.data(), args.size());
    }
    return 0;
}
