// Printf and key formatting.
#include "kernel/VString.h"

#include <cerrno>
#include <climits>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <type_traits>
#include <vector>
#include <sys/types.h>

#include "kernel/Base64Coder.h"
#include "kernel/StStringConverter.h"
#include "kernel/VCollator.h"
#include "kernel/VCompareOptions.h"
#include "kernel/VCppMemMgr.h"
#include "kernel/VIntlMgr.h"
#include "kernel/VObject.h"
#include "kernel/VTextConverter.h"
#include "kernel/VTextConverters.h"
#include "platform/PlatNumbers.h"
#include "platform/PlatString.h"
#include "values/VValueBag.h"
#include "kernel/VString_internal.h"

namespace qelt {

using namespace stringimpl;

// ===========================================================================
// Printf

namespace {

// The C-library side of a Printf: bytes of formatted text, at most 1023 in
// all, decoded into the string in runs (between object texts).
class PrintfSink {
public:
    explicit PrintfSink(VString& ioString) : fString(ioString) { fBuffer[0] = 0; }

    void Append(const char* inBytes, size_t inCount)
    {
        size_t room = kLimit - fUsed;
        if (inCount > room)
            inCount = room;
        std::memcpy(fBuffer + fUsed, inBytes, inCount);
        fUsed += inCount;
        fBuffer[fUsed] = 0;
    }

    // Formats one C-library directive with its arguments, cut at the limit.
    template <class... Args>
    void Format(const char* inDirective, Args... inArgs)
    {
        size_t room = kLimit - fUsed;
        if (room == 0)
            return;
        // Numbers in the C locale, whatever the process or thread locale is.
        int n = plat::FormatC(fBuffer + fUsed, room + 1, inDirective, inArgs...);
        if (n > 0)
            fUsed += static_cast<size_t>(n) < room ? static_cast<size_t>(n) : room;
        fBuffer[fUsed] = 0;
    }

    // Decodes the bytes not yet handed to the string (ASCII widened,
    // anything else read as UTF-8).
    void Flush()
    {
        if (fUsed > fFlushed) {
            fString.AppendCString(fBuffer + fFlushed);
            fFlushed = fUsed;
        }
    }

private:
    static constexpr size_t kLimit = 1023;
    VString& fString;
    char fBuffer[kLimit + 1];
    size_t fUsed = 0;
    size_t fFlushed = 0;
};

void SetInvalidText(VString& outText, const wchar_t* inLiteral)
{
    outText.FromBlock(inLiteral, std::wcslen(inLiteral) * sizeof(wchar_t), VTC_UTF_32_RAW);
}

// The text of an object directive (%S, %A, %V) for the pointer.
void ObjectText(char inKind, const void* inPointer, VString& outText)
{
    const VObject* object = static_cast<const VObject*>(inPointer);
    VCppMemMgr* manager = VObject::sCppMemMgr;
    bool valid = object != nullptr && (manager == nullptr || manager->CheckVObject(object) != nullptr);
    if (!valid) {
        SetInvalidText(outText, L"@@invalid VObject@@");
        return;
    }
    if (inKind == 'S') {
        const VString* text = dynamic_cast<const VString*>(object);
        if (text == nullptr)
            SetInvalidText(outText, L"@@invalid VString@@");
        else
            outText.FromString(*text);
    } else if (inKind == 'A') {
        const VValueSingle* value = dynamic_cast<const VValueSingle*>(object);
        if (value == nullptr)
            SetInvalidText(outText, L"@@invalid VValueSingle@@");
        else
            value->GetString(outText);
    } else {
        object->DebugDump(outText);
    }
}

}  // namespace

void VString::Printf(const char* inFormat, ...)
{
    if (fLength != 0)
        Truncate(0, false);
    va_list args;
    va_start(args, inFormat);
    _Printf(inFormat, args);
    va_end(args);
}

void VString::VPrintf(const char* inFormat, va_list inArgs)
{
    if (fLength != 0)
        Truncate(0, false);
    _Printf(inFormat, inArgs);
}

VString& VString::AppendPrintf(const char* inFormat, ...)
{
    va_list args;
    va_start(args, inFormat);
    _Printf(inFormat, args);
    va_end(args);
    return *this;
}

void VString::_Printf(const char* inFormat, va_list inArgs)
{
    // Each directive is read whole (flags, width, precision, length and
    // conversion) and takes its arguments with their real types, so that
    // numbers of every kind, '*' widths and object pointers may be mixed
    // freely. Ordinary directives are formatted one by one by the C library
    // in the C locale; object directives insert their text right where they
    // stand. A directive the walker does not know is copied as text; it
    // takes its argument like any other, unused.
    if (inFormat == nullptr)
        return;
    va_list args;
    va_copy(args, inArgs);

    PrintfSink sink(*this);
    const char* p = inFormat;
    while (*p != 0) {
        const char* percent = std::strchr(p, '%');
        if (percent == nullptr) {
            sink.Append(p, std::strlen(p));
            break;
        }
        sink.Append(p, static_cast<size_t>(percent - p));
        const char* d = percent + 1;
        if (*d == '%') {
            sink.Append("%", 1);
            p = d + 1;
            continue;
        }
        if (*d == 'S' || *d == 'A' || *d == 'V') {
            const void* object = va_arg(args, const void*);
            VString text;
            ObjectText(*d, object, text);
            sink.Flush();
            AppendString(text);
            p = d + 1;
            continue;
        }
        // Flags, width, precision.
        while (*d == '-' || *d == '+' || *d == ' ' || *d == '#' || *d == '0' || *d == '\'')
            ++d;
        bool starWidth = false, starPrecision = false;
        if (*d == '*') {
            starWidth = true;
            ++d;
        } else {
            while (*d >= '0' && *d <= '9')
                ++d;
        }
        if (*d == '.') {
            ++d;
            if (*d == '*') {
                starPrecision = true;
                ++d;
            } else {
                while (*d >= '0' && *d <= '9')
                    ++d;
            }
        }
        // Length.
        enum { kNone, kChar, kShort, kLong, kLongLong, kIntMax, kSize, kPtrDiff, kLongDouble } length = kNone;
        if (d[0] == 'h' && d[1] == 'h') {
            length = kChar;
            d += 2;
        } else if (d[0] == 'l' && d[1] == 'l') {
            length = kLongLong;
            d += 2;
        } else if (*d == 'h') {
            length = kShort;
            ++d;
        } else if (*d == 'l') {
            length = kLong;
            ++d;
        } else if (*d == 'q') {
            length = kLongLong;
            ++d;
        } else if (*d == 'j') {
            length = kIntMax;
            ++d;
        } else if (*d == 'z') {
            length = kSize;
            ++d;
        } else if (*d == 't') {
            length = kPtrDiff;
            ++d;
        } else if (*d == 'L') {
            length = kLongDouble;
            ++d;
        }
        char conversion = *d;
        bool integer = std::strchr("diouxX", conversion) != nullptr && conversion != 0;
        bool real = std::strchr("eEfFgGaA", conversion) != nullptr && conversion != 0;
        bool known = integer || real || conversion == 'c' || conversion == 's' || conversion == 'p';
        if (conversion == 'S' || conversion == 'A' || conversion == 'V') {
            // An object directive with flags or a width: those are not read.
            if (starWidth)
                (void)va_arg(args, int);
            if (starPrecision)
                (void)va_arg(args, int);
            const void* object = va_arg(args, const void*);
            VString text;
            ObjectText(conversion, object, text);
            sink.Flush();
            AppendString(text);
            p = d + 1;
            continue;
        }
        if (!known) {
            // Not a directive of this formatter (%n among them, which would
            // write through its argument, and %C): copied as text. It still
            // takes its arguments, unused, so that the directives after it
            // read theirs; a directive cut off by the end of the format has
            // none.
            if (conversion != 0) {
                if (starWidth)
                    (void)va_arg(args, int);
                if (starPrecision)
                    (void)va_arg(args, int);
                if (conversion == 'C')
                    (void)va_arg(args, wint_t);
                else
                    (void)va_arg(args, void*);
            }
            size_t n = conversion == 0 ? static_cast<size_t>(d - percent) : static_cast<size_t>(d + 1 - percent);
            sink.Append(percent, n);
            p = percent + n;
            continue;
        }
        // A directive longer than the work buffer still takes its arguments
        // (so that the next ones stay in step) but prints nothing.
        char directive[64];
        size_t directiveLength = static_cast<size_t>(d + 1 - percent);
        const bool printable = directiveLength < sizeof(directive);
        if (printable)
            std::memcpy(directive, percent, directiveLength);
        directive[printable ? directiveLength : 0] = 0;
        // Widths and precisions given as arguments are bounded by the output
        // limit, so that none makes the C library pad for ever.
        int width = starWidth ? va_arg(args, int) : 0;
        int precision = starPrecision ? va_arg(args, int) : 0;
        if (width > 1023)
            width = 1023;
        if (width < -1023)
            width = -1023;
        if (precision > 1023)
            precision = 1023;

        auto emit = [&](auto inValue) {
            if (!printable)
                return;
            if (starWidth && starPrecision)
                sink.Format(directive, width, precision, inValue);
            else if (starWidth)
                sink.Format(directive, width, inValue);
            else if (starPrecision)
                sink.Format(directive, precision, inValue);
            else
                sink.Format(directive, inValue);
        };

        if (integer) {
            bool isSigned = conversion == 'd' || conversion == 'i';
            switch (length) {
                case kLong:
                    if (isSigned)
                        emit(va_arg(args, long));
                    else
                        emit(va_arg(args, unsigned long));
                    break;
                case kLongLong:
                    if (isSigned)
                        emit(va_arg(args, long long));
                    else
                        emit(va_arg(args, unsigned long long));
                    break;
                case kIntMax:
                    if (isSigned)
                        emit(va_arg(args, intmax_t));
                    else
                        emit(va_arg(args, uintmax_t));
                    break;
                case kSize:
                    if (isSigned)
                        emit(va_arg(args, ssize_t));
                    else
                        emit(va_arg(args, size_t));
                    break;
                case kPtrDiff:
                    emit(va_arg(args, ptrdiff_t));
                    break;
                default:
                    // char and short arguments arrive promoted to int.
                    if (isSigned)
                        emit(va_arg(args, int));
                    else
                        emit(va_arg(args, unsigned int));
                    break;
            }
        } else if (real) {
            if (length == kLongDouble)
                emit(va_arg(args, long double));
            else
                emit(va_arg(args, double));
        } else if (conversion == 'c') {
            if (length == kLong)
                emit(va_arg(args, wint_t));
            else
                emit(va_arg(args, int));
        } else if (conversion == 's') {
            if (length == kLong)
                emit(va_arg(args, const wchar_t*));
            else
                emit(va_arg(args, const char*));
        } else {
            emit(va_arg(args, void*));
        }
        p = d + 1;
    }
    sink.Flush();
    va_end(args);
}

// ===========================================================================
// Key formatting

VString& VString::Format(const VValueBag* inBag, bool inRemoveMissing)
{
    if (inBag == nullptr || inBag->IsEmpty() || fLength < 2)
        return *this;
    int pos = 1;
    while (pos < fLength) {
        int a = FindUniChar('{', pos);
        if (a == 0)
            break;
        if (a + 1 < fLength && fString[a] == '{') {
            pos = a + 2;
            continue;
        }
        int b = FindUniChar('}', a + 1);
        if (b == 0)
            break;
        if (b + 1 < fLength && fString[b] == '}') {
            pos = b + 2;
            continue;
        }
        bool blank = false;
        for (int i = a + 1; i < b; ++i) {
            if (fString[i - 1] == ' ') {
                blank = true;
                break;
            }
        }
        if (b == a + 1 || blank) {
            pos = a + 1;
            continue;
        }
        VStr<15> key;
        key.FromUniString(fString + a, b - a - 1);
        VStr<31> value;
        if (inBag->GetAttribute(StPackedDictionaryKey(key), value)) {
            Replace(value, a, b - a + 1);
            pos = a + value.GetLength();
        } else if (inRemoveMissing) {
            Remove(a, b - a + 1);
            pos = a;
        } else {
            pos = a + 1;
        }
    }
    return *this;
}

}  // namespace qelt
