#include "files/VURL.h"

#include "files/mac/XMacFile.h"

namespace qelt {

namespace {

constexpr UniChar kColon = u':';
constexpr UniChar kSlash = u'/';
constexpr UniChar kBackslash = u'\\';
constexpr UniChar kDot = u'.';

UniChar* WritableUnits(VString& ioText, int inCapacity)
{
    if (!ioText._ReallocBuffer(inCapacity, false))
        return nullptr;
    return const_cast<UniChar*>(ioText.GetCPointer());
}

}  // namespace

// ---- Path style conversions -------------------------------------------------

void VURL::Convert(VString& ioText, EURLPathStyle inFrom, EURLPathStyle inTo, bool inRelative)
{
    if (inFrom == eURL_POSIX_STYLE && inTo == eURL_WIN_STYLE)
        POSIX_to_WIN(ioText);
    else if (inFrom == eURL_POSIX_STYLE && inTo == eURL_HFS_STYLE)
        POSIX_to_HFS(ioText);
    else if (inFrom == eURL_WIN_STYLE && inTo == eURL_POSIX_STYLE)
        WIN_to_POSIX(ioText);
    else if (inFrom == eURL_HFS_STYLE && inTo == eURL_POSIX_STYLE)
        HFS_to_POSIX(ioText, inRelative);
}

void VURL::POSIX_to_HFS(VString& ioText)
{
    const int length = ioText.GetLength();
    if (length == 0)
        return;
    if (ioText.GetCPointer()[0] == kSlash) {
        VStr<255> full;
        if (XMacFile::PosixFullPathToHFS(ioText, full)) {
            ioText.FromString(full);
            return;
        }
    }
    // Relative rules. Every unit writes at most one unit, so the result is
    // never longer than the text.
    VStr<255> result;
    UniChar* out = WritableUnits(result, length);
    if (out == nullptr)
        return;
    const UniChar* in = ioText.GetCPointer();
    int n = 0;
    int pending = 0;           // separators not written yet
    bool elementStart = true;  // at the start of the text or after a '/'
    bool afterSlash = false;   // a run of '/' counts once
    int i = 0;
    while (i < length) {
        const UniChar c = in[i];
        if (elementStart && c == kDot) {
            const bool single = (i + 1 == length) || in[i + 1] == kSlash;
            const bool twice = !single && in[i + 1] == kDot && (i + 2 == length || in[i + 2] == kSlash);
            if (single) {
                i += (i + 1 == length) ? 1 : 2;
                afterSlash = true;
                continue;
            }
            if (twice) {
                ++pending;
                i += (i + 2 == length) ? 2 : 3;
                afterSlash = true;
                continue;
            }
        }
        if (c == kSlash) {
            if (!afterSlash)
                ++pending;
            afterSlash = true;
            elementStart = true;
            ++i;
            continue;
        }
        for (; pending > 0; --pending)
            out[n++] = kColon;
        out[n++] = (c == kColon) ? kSlash : c;
        elementStart = false;
        afterSlash = false;
        ++i;
    }
    for (; pending > 0; --pending)
        out[n++] = kColon;
    result.Validate(n);
    ioText.FromString(result);
}

void VURL::HFS_to_POSIX(VString& ioText, bool inRelative)
{
    const int length = ioText.GetLength();
    if (length == 0)
        return;
    VStr<255> copy(ioText);
    if (!inRelative) {
        XMacFile::HFSFullPathToPosix(copy, ioText);
        return;
    }
    // n consecutive ':' write '/' and n-1 "../"; a leading run writes no '/'.
    VStr<255> result;
    UniChar* out = WritableUnits(result, 3 * length);
    if (out == nullptr)
        return;
    const UniChar* in = copy.GetCPointer();
    int n = 0;
    int colons = 0;
    bool leading = true;
    auto flush = [&]() {
        if (colons == 0)
            return;
        if (!leading)
            out[n++] = kSlash;
        for (int k = 1; k < colons; ++k) {
            out[n++] = kDot;
            out[n++] = kDot;
            out[n++] = kSlash;
        }
        colons = 0;
    };
    for (int i = 0; i < length; ++i) {
        const UniChar c = in[i];
        if (c == kColon) {
            ++colons;
            continue;
        }
        flush();
        leading = false;
        out[n++] = (c == kSlash) ? kColon : c;
    }
    flush();
    result.Validate(n);
    ioText.FromString(result);
}

void VURL::POSIX_to_WIN(VString& ioText) { ioText.Exchange(kSlash, kBackslash); }

void VURL::WIN_to_POSIX(VString& ioText) { ioText.Exchange(kBackslash, kSlash); }

}  // namespace qelt
