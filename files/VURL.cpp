#include "files/VURL.h"

#include "files/VFolder.h"

#include <string>
#include <vector>

#include "files/VFilePath.h"
#include "files/mac/XMacFile.h"
#include "platform/PlatUTF8.h"
#include "platform/PlatNumbers.h"

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

// ---- Percent encoding tables ----

// The bytes that Encode writes as '%' and two digits: the controls, 0x7F
// and above, the space and <>"#%{}|\^`, and with the path set [ and ].
struct UnsafeTable {
    bool fUnsafe[256];
};

constexpr UnsafeTable MakeUnsafeTable(bool inEscapeBrackets)
{
    UnsafeTable table{};
    for (int b = 0; b < 256; ++b)
        table.fUnsafe[b] = b <= 0x1F || b >= 0x7F;
    for (const char* p = "<>\"#%{}|\\^` "; *p != 0; ++p)
        table.fUnsafe[static_cast<unsigned char>(*p)] = true;
    if (inEscapeBrackets) {
        table.fUnsafe[static_cast<unsigned char>('[')] = true;
        table.fUnsafe[static_cast<unsigned char>(']')] = true;
    }
    return table;
}

constexpr UnsafeTable kPathUnsafe = MakeUnsafeTable(true);
constexpr UnsafeTable kNetLocationUnsafe = MakeUnsafeTable(false);

// The characters a URL may hold as they are: reserved (gen-delims and
// sub-delims), unreserved and '%'; and the zero unit.
struct SafeTable {
    bool fSafe[128];
};

constexpr SafeTable MakeSafeTable()
{
    SafeTable table{};
    table.fSafe[0] = true;
    for (const char* p = ":/?#[]@!$&'()*+,;=-._~%"; *p != 0; ++p)
        table.fSafe[static_cast<unsigned char>(*p)] = true;
    for (int c = '0'; c <= '9'; ++c)
        table.fSafe[c] = true;
    for (int c = 'A'; c <= 'Z'; ++c) {
        table.fSafe[c] = true;
        table.fSafe[c + 32] = true;
    }
    return table;
}

constexpr SafeTable kSafe = MakeSafeTable();

// The 0-based position of an ASCII pattern in the units from inFrom, or -1.
int FindText(const UniChar* inText, int inLength, const char* inPattern, int inFrom)
{
    int patternLength = 0;
    while (inPattern[patternLength] != 0)
        ++patternLength;
    for (int i = inFrom; i + patternLength <= inLength; ++i) {
        int k = 0;
        while (k < patternLength && inText[i + k] == static_cast<UniChar>(inPattern[k]))
            ++k;
        if (k == patternLength)
            return i;
    }
    return -1;
}

// The last position of the unit before inEnd, or -1.
int FindLastUnit(const UniChar* inText, int inEnd, UniChar inUnit)
{
    for (int i = inEnd - 1; i >= 0; --i) {
        if (inText[i] == inUnit)
            return i;
    }
    return -1;
}

// Drops one trailing '/' of a path; answers the position of its last '/'
// then, or -1.
int DropTrailingSlash(VString& ioPath)
{
    if (!ioPath.IsEmpty() && ioPath.GetCPointer()[ioPath.GetLength() - 1] == u'/')
        ioPath.Truncate(ioPath.GetLength() - 1, false);
    return FindLastUnit(ioPath.GetCPointer(), ioPath.GetLength(), u'/');
}

int FindUnit(const UniChar* inText, int inLength, UniChar inUnit, int inFrom, int inEnd = -1)
{
    const int end = inEnd < 0 ? inLength : inEnd;
    for (int i = inFrom; i < end; ++i) {
        if (inText[i] == inUnit)
            return i;
    }
    return -1;
}

bool BeginsWith(const VString& inText, UniChar inUnit)
{
    return !inText.IsEmpty() && inText.GetCPointer()[0] == inUnit;
}

bool EndsWith(const VString& inText, UniChar inUnit)
{
    return !inText.IsEmpty() && inText.GetCPointer()[inText.GetLength() - 1] == inUnit;
}

void PartText(const VString& inText, const URLPart& inPart, VString& outPart)
{
    if (inPart.fStart <= 0 || inPart.fLength <= 0)
        outPart.Clear();
    else
        inText.GetSubString(inPart.fStart, inPart.fLength, outPart);
}

const VString& FileScheme()
{
    static const VStr<7> sScheme("file");
    return sScheme;
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

// ---- Percent encoding ---------------------------------------------------------

void VURL::Encode(VString& ioText, bool inKeepColon, bool inDecompose, bool inEscapeBrackets,
                  bool inKeepUnicodeEscapes)
{
    if (inDecompose)
        ioText.Decompose();
    VStr<255> text(ioText);
    text.ConvertCarriageReturns(eCRM_LF);
    const std::string bytes =
        plat::UTF16ToUTF8(text.GetCPointer(), static_cast<size_t>(text.GetLength()), plat::UTF8Mode::kReplace);
    const UnsafeTable& unsafe = inEscapeBrackets ? kPathUnsafe : kNetLocationUnsafe;
    static constexpr char kDigits[] = "0123456789ABCDEF";
    std::string out;
    out.reserve(bytes.size() + 16);
    for (size_t i = 0; i < bytes.size(); ++i) {
        const auto b = static_cast<unsigned char>(bytes[i]);
        const bool keep = (inKeepColon && b == ':') ||
                          (inKeepUnicodeEscapes && b == '\\' && i + 1 < bytes.size() && bytes[i + 1] == 'u');
        if (!keep && unsafe.fUnsafe[b]) {
            out.push_back('%');
            out.push_back(kDigits[b >> 4]);
            out.push_back(kDigits[b & 0x0F]);
        } else {
            out.push_back(static_cast<char>(b));
        }
    }
    // Only ASCII is left.
    ioText.Clear();
    if (!out.empty()) {
        UniChar* units = WritableUnits(ioText, static_cast<int>(out.size()));
        if (units == nullptr)
            return;
        for (size_t i = 0; i < out.size(); ++i)
            units[i] = static_cast<unsigned char>(out[i]);
        ioText.Validate(static_cast<int>(out.size()));
    }
}

void VURL::Decode(VString& ioText)
{
    const int length = ioText.GetLength();
    const UniChar* in = ioText.GetCPointer();
    if (FindUnit(in, length, u'%', 0) < 0) {
        ioText.Compose();
        return;
    }
    VStr<255> result;
    std::vector<unsigned char> run;
    std::vector<UniChar> decoded;
    int i = 0;
    while (i < length) {
        const UniChar c = in[i];
        if (c != u'%' || i + 2 >= length || plat::HexDigitValue(in[i + 1]) < 0 || plat::HexDigitValue(in[i + 2]) < 0) {
            result.AppendUniChar(c);
            ++i;
            continue;
        }
        // A run of escapes, converted as one block.
        run.clear();
        while (i + 2 < length && in[i] == u'%' && plat::HexDigitValue(in[i + 1]) >= 0 && plat::HexDigitValue(in[i + 2]) >= 0) {
            run.push_back(static_cast<unsigned char>(16 * plat::HexDigitValue(in[i + 1]) + plat::HexDigitValue(in[i + 2])));
            i += 3;
        }
        if (run.size() == 1) {
            result.AppendUniChar(run[0]);  // ISO-8859-1
        } else {
            decoded.resize(run.size());
            const plat::UTF8Result r = plat::DecodeUTF8(run.data(), run.size(), decoded.data(), decoded.size(),
                                                        plat::UTF8Mode::kConverter, true);
            result.AppendUniChars(decoded.data(), static_cast<int>(r.produced));
        }
    }
    result.Compose();
    ioText.FromString(result);
}

bool VURL::_ContainsOnlySafeCharacters(const VString& inText)
{
    const UniChar* p = inText.GetCPointer();
    for (int i = 0; i < inText.GetLength(); ++i) {
        if (p[i] > 127 || !kSafe.fSafe[p[i]])
            return false;
    }
    return true;
}

// ---- Construction and setting ---------------------------------------------------

VURL::VURL(const VURL& inURL) : VObject(inURL) { FromURL(inURL); }

VURL& VURL::operator=(const VURL& inURL)
{
    FromURL(inURL);
    return *this;
}

VURL::VURL(const VString& inText, bool inEncoded) { FromString(inText, inEncoded); }

VURL::VURL(const VFilePath& inPath) { FromFilePath(inPath); }

VURL::VURL(const VString& inPath, EURLPathStyle inStyle, const VString& inPrefix)
{
    FromFilePath(inPath, inStyle, inPrefix);
}

VURL::VURL(const VFolder& inFolder, const VString& inRelativePath, EURLPathStyle inStyle)
{
    FromRelativePath(inFolder, inRelativePath, inStyle);
}

VURL::~VURL() = default;

void VURL::FromRelativePath(const VFolder& inFolder, const VString& inRelativePath, EURLPathStyle inStyle)
{
    VString text(inRelativePath);
    if (inStyle == eURL_WIN_STYLE)
        WIN_to_POSIX(text);
    FilePathStyle style = inStyle == eURL_HFS_STYLE ? FPS_SYSTEM : FPS_POSIX;
    FromFilePath(VFilePath(inFolder.GetPath(), text, style, false));
}

void VURL::FromURL(const VURL& inURL)
{
    if (&inURL == this)
        return;
    for (int i = 0; i < 6; ++i)
        fParts[i] = inURL.fParts[i];
    fURL.FromString(inURL.fURL);
    fEncodedURL.FromString(inURL.fEncodedURL);
    fIsValid = inURL.fIsValid;
}

void VURL::Clear()
{
    fURL.Clear();
    fEncodedURL.Clear();
    for (URLPart& part : fParts)
        part = URLPart{};
    fIsValid = false;
}

void VURL::FromString(const VString& inText, bool inEncoded)
{
    VString text(inText);
    fIsValid = false;
    fURL.FromString(text);
    if (inEncoded && _ContainsOnlySafeCharacters(text))
        fEncodedURL.FromString(text);
    else
        fEncodedURL.Clear();
    _Parse(false);
    if (inEncoded)
        _DecodeParts();
}

void VURL::FromString(const VString& inText, const VString& inBase, bool inEncoded)
{
    if (FindText(inText.GetCPointer(), inText.GetLength(), "://", 0) >= 0) {
        FromString(inText, inEncoded);
        return;
    }
    VString joined(inBase);
    if (!inBase.IsEmpty() && !BeginsWith(inText, kSlash))
        joined.AppendUniChar(kSlash);
    joined.AppendString(inText);
    FromString(joined, inEncoded);
}

void VURL::FromFilePath(const VFilePath& inPath)
{
    VStr<255> posix;
    inPath.GetPosixPath(posix);
    if (posix.IsEmpty()) {
        Clear();
        return;
    }
    fEncodedURL.Clear();
    const bool network = posix.GetLength() >= 2 && posix.GetCPointer()[1] == kSlash && BeginsWith(posix, kSlash);
    VStr<255> text("file:");
    if (!network) {
        text.AppendCString("//");
        if (!BeginsWith(posix, kSlash))
            text.AppendUniChar(kSlash);
    }
    text.AppendString(posix);
    fURL.FromString(text);
    _Parse(true);
}

void VURL::FromFilePath(const VString& inPath, EURLPathStyle inStyle, const VString& inPrefix)
{
    VStr<255> path(inPath);
    if (inStyle == eURL_WIN_STYLE)
        WIN_to_POSIX(path);
    else if (inStyle == eURL_HFS_STYLE)
        HFS_to_POSIX(path, true);
    VStr<255> text(inPrefix);
    if (BeginsWith(path, kSlash)) {
        if (path.GetLength() >= 2 && path.GetCPointer()[1] == kSlash)
            path.Remove(1, 2);
    } else {
        text.AppendUniChar(kSlash);
    }
    text.AppendString(path);
    fURL.FromString(text);
    fEncodedURL.Clear();
    _Parse(true);
}

// ---- Splitting ----------------------------------------------------------------

bool VURL::_BuildURLArray(const VString& inText, bool inNoSubParts, URLPart (&outParts)[6])
{
    for (URLPart& part : outParts)
        part = URLPart{};
    const int length = inText.GetLength();
    if (length == 0)
        return true;
    const UniChar* p = inText.GetCPointer();
    bool valid = false;
    int pathStart = 0;  // 0-based
    const int marker = FindText(p, length, "://", 0);
    bool hasScheme = marker >= 0;
    for (int i = 0; hasScheme && i < marker; ++i) {
        if (p[i] == kSlash || p[i] == kColon)
            hasScheme = false;
    }
    if (hasScheme) {
        outParts[e_Scheme] = URLPart{1, marker};
        const int netStart = marker + 3;
        const int slash = FindUnit(p, length, kSlash, netStart);
        if (slash >= 0) {
            outParts[e_NetLoc] = URLPart{netStart + 1, slash - netStart};
            pathStart = slash + 1;
            valid = true;
        } else {
            outParts[e_NetLoc] = URLPart{netStart + 1, length - netStart};
            pathStart = length;
        }
    }
    int pathEnd = length;
    if (!inNoSubParts) {
        // The fragment runs to the end; ';' and '?' after the '#' belong to it.
        const int hash = FindUnit(p, length, u'#', pathStart);
        const int limit = hash >= 0 ? hash : length;
        const int semicolon = FindUnit(p, length, u';', pathStart, limit);
        const int question = FindUnit(p, length, u'?', pathStart, limit);
        if (semicolon >= 0) {
            int end = limit;
            if (question > semicolon)
                end = question;
            outParts[e_Parameters] = URLPart{semicolon + 2, end - semicolon - 1};
            pathEnd = semicolon;
        }
        if (question >= 0) {
            int end = limit;
            if (semicolon > question)
                end = semicolon;
            outParts[e_Query] = URLPart{question + 2, end - question - 1};
            if (question < pathEnd)
                pathEnd = question;
        }
        if (hash >= 0) {
            outParts[e_Fragment] = URLPart{hash + 2, length - hash - 1};
            if (hash < pathEnd)
                pathEnd = hash;
        }
    }
    outParts[e_Path] = URLPart{pathStart + 1, pathEnd - pathStart};
    return valid;
}

void VURL::_Parse(bool inNoSubParts) { fIsValid = _BuildURLArray(fURL, inNoSubParts, fParts); }

void VURL::_DecodeParts()
{
    for (int index = e_Fragment; index >= e_Scheme; --index) {
        URLPart& part = fParts[index];
        if (part.fStart <= 0 || part.fLength <= 0)
            continue;
        VStr<255> text;
        fURL.GetSubString(part.fStart, part.fLength, text);
        Decode(text);
        const int delta = text.GetLength() - part.fLength;
        fURL.Replace(text, part.fStart, part.fLength);
        const int start = part.fStart;
        part.fLength = text.GetLength();
        for (URLPart& other : fParts) {
            if (other.fStart > start)
                other.fStart += delta;
        }
    }
}

// ---- Parts ------------------------------------------------------------------

void VURL::_GetPart(VString& outPart, EURLParts inPart) const { PartText(fURL, fParts[inPart], outPart); }

void VURL::_GetEncodedPart(VString& outPart, EURLParts inPart, bool inEncoded) const
{
    _GetPart(outPart, inPart);
    if (inEncoded)
        Encode(outPart, false, false, inPart != e_NetLoc, false);
}

bool VURL::_SetPart(const VString& inText, EURLParts inPart)
{
    URLPart parts[6];
    if (!_BuildURLArray(fURL, false, parts))
        return false;
    VStr<255> texts[6];
    for (int i = 0; i < 6; ++i) {
        if (i == inPart)
            texts[i].FromString(inText);
        else
            PartText(fURL, parts[i], texts[i]);
    }
    fEncodedURL.Clear();
    VStr<255> url;
    if (!texts[e_Scheme].IsEmpty()) {
        url.AppendString(texts[e_Scheme]);
        url.AppendCString(texts[e_NetLoc].IsEmpty() ? ":///" : "://");
    }
    if (!texts[e_NetLoc].IsEmpty()) {
        url.AppendString(texts[e_NetLoc]);
        url.AppendUniChar(kSlash);
    }
    url.AppendString(texts[e_Path]);
    static const char kDelimiters[6] = {0, 0, 0, ';', '?', '#'};
    for (int i = e_Parameters; i <= e_Fragment; ++i) {
        if (!texts[i].IsEmpty()) {
            url.AppendUniChar(static_cast<UniChar>(kDelimiters[i]));
            url.AppendString(texts[i]);
        }
    }
    fURL.FromString(url);
    return true;
}

void VURL::_SetDecodedPart(const VString& inText, EURLParts inPart, bool inEncoded)
{
    VStr<255> text(inText);
    if (inEncoded)
        Decode(text);
    _SetPart(text, inPart);
    _Parse(false);
}

void VURL::SetScheme(const VString& inScheme)
{
    _SetPart(inScheme, e_Scheme);
    _Parse(false);
}

void VURL::SetNetWorkLocation(const VString& inNetLocation, bool inEncoded)
{
    _SetDecodedPart(inNetLocation, e_NetLoc, inEncoded);
}

void VURL::SetParameters(const VString& inParameters, bool inEncoded)
{
    _SetDecodedPart(inParameters, e_Parameters, inEncoded);
}

void VURL::SetQuery(const VString& inQuery, bool inEncoded) { _SetDecodedPart(inQuery, e_Query, inEncoded); }

void VURL::SetFragment(const VString& inFragment, bool inEncoded)
{
    _SetDecodedPart(inFragment, e_Fragment, inEncoded);
}

void VURL::SetRelativePath(const VString& inPath, EURLPathStyle inStyle, bool inEncoded)
{
    VStr<255> path(inPath);
    if (inEncoded)
        Decode(path);
    if (inStyle == eURL_WIN_STYLE)
        WIN_to_POSIX(path);
    else if (inStyle == eURL_HFS_STYLE)
        HFS_to_POSIX(path, true);
    _SetPart(path, e_Path);
    _Parse(false);
}

// ---- Reading ------------------------------------------------------------------

void VURL::GetAbsoluteURL(VString& outURL, bool inEncoded) const
{
    if (!inEncoded || fURL.EqualToUSASCIICString("about:blank")) {
        outURL.FromString(fURL);
        return;
    }
    if (!fEncodedURL.IsEmpty()) {
        outURL.FromString(fEncodedURL);
        return;
    }
    VStr<255> url;
    VStr<255> part;
    if (fParts[e_Scheme].fStart > 0) {
        _GetPart(url, e_Scheme);
        url.AppendCString("://");
        _GetEncodedPart(part, e_NetLoc, true);
        url.AppendString(part);
        url.AppendUniChar(kSlash);
    }
    _GetEncodedPart(part, e_Path, true);
    url.AppendString(part);
    static const struct {
        EURLParts fPart;
        UniChar fDelimiter;
    } kRest[] = {{e_Query, u'?'}, {e_Parameters, u';'}, {e_Fragment, u'#'}};
    for (const auto& rest : kRest) {
        _GetEncodedPart(part, rest.fPart, true);
        if (!part.IsEmpty()) {
            url.AppendUniChar(rest.fDelimiter);
            url.AppendString(part);
        }
    }
    outURL.FromString(url);
}

void VURL::GetRelativeURL(VString& outURL, bool inEncoded) const
{
    if (!inEncoded) {
        outURL.FromString(fURL);
        return;
    }
    URLPart parts[6];
    _BuildURLArray(fURL, false, parts);
    VStr<255> url;
    VStr<255> part;
    static const char* const kAfter[6] = {nullptr, "/", "", ";", "?", "#"};
    for (int i = e_Scheme; i <= e_Fragment; ++i) {
        PartText(fURL, parts[i], part);
        if (part.IsEmpty())
            continue;
        Encode(part, false, false, true, false);
        if (i >= e_Parameters)
            url.AppendCString(kAfter[i]);
        url.AppendString(part);
        if (i == e_Scheme)
            url.AppendCString(parts[e_NetLoc].fLength > 0 ? "://" : ":///");
        else if (i == e_NetLoc)
            url.AppendUniChar(kSlash);
    }
    outURL.FromString(url);
}

void VURL::GetScheme(VString& outScheme) const { _GetPart(outScheme, e_Scheme); }

bool VURL::IsScheme(const VString& inScheme) const
{
    VStr<31> scheme;
    _GetPart(scheme, e_Scheme);
    return scheme.EqualToStringRaw(inScheme);
}

void VURL::GetNetworkLocation(VString& outNetLocation, bool inEncoded) const
{
    _GetEncodedPart(outNetLocation, e_NetLoc, inEncoded);
}

void VURL::GetHostName(VString& outHost, bool inEncoded) const
{
    VStr<255> netLocation;
    _GetPart(netLocation, e_NetLoc);
    ParseNetLocation(netLocation, nullptr, nullptr, &outHost, nullptr);
    if (inEncoded)
        Encode(outHost, false, false, true, false);
}

void VURL::GetUserName(VString& outUser, bool inEncoded) const
{
    VStr<255> netLocation;
    _GetPart(netLocation, e_NetLoc);
    ParseNetLocation(netLocation, &outUser, nullptr, nullptr, nullptr);
    if (inEncoded)
        Encode(outUser, false, false, true, false);
}

void VURL::GetPassword(VString& outPassword, bool inEncoded) const
{
    VStr<255> netLocation;
    _GetPart(netLocation, e_NetLoc);
    ParseNetLocation(netLocation, nullptr, &outPassword, nullptr, nullptr);
    if (inEncoded)
        Encode(outPassword, false, false, true, false);
}

void VURL::GetPortNumber(VString& outPort, bool inEncoded) const
{
    VStr<255> netLocation;
    _GetPart(netLocation, e_NetLoc);
    ParseNetLocation(netLocation, nullptr, nullptr, nullptr, &outPort);
    if (inEncoded)
        Encode(outPort, false, false, true, false);
}

int VURL::GetPortNumber() const
{
    VStr<31> port;
    GetPortNumber(port, false);
    int value = 0;
    const UniChar* p = port.GetCPointer();
    for (int i = 0; i < port.GetLength(); ++i) {
        if (p[i] >= u'0' && p[i] <= u'9') {
            value = value * 10 + (p[i] - u'0');
            if (value > 65536)
                return -1;
        } else if (p[i] == u' ') {
            return -1;
        }
    }
    return value;
}

void VURL::ParseNetLocation(const VString& inNetLocation, VString* outUser, VString* outPassword, VString* outHost,
                            VString* outPort)
{
    const UniChar* p = inNetLocation.GetCPointer();
    const int length = inNetLocation.GetLength();
    const int at = FindUnit(p, length, u'@', 0);
    VStr<63> user;
    VStr<63> password;
    VStr<255> host;
    VStr<31> port;
    int hostStart = 0;
    if (at >= 0) {
        const int colon = FindUnit(p, at, kColon, 0);
        if (colon >= 0) {
            user.FromUniString(p, colon);
            password.FromUniString(p + colon + 1, at - colon - 1);
        } else {
            user.FromUniString(p, at);
        }
        hostStart = at + 1;
    }
    const UniChar* h = p + hostStart;
    const int hostLength = length - hostStart;
    if (hostLength > 0 && h[0] == u'[') {
        const int close = FindUnit(h, hostLength, u']', 1);
        if (close >= 0) {
            host.FromUniString(h + 1, close - 1);
            const int colon = FindUnit(h, hostLength, kColon, close + 1);
            if (colon >= 0)
                port.FromUniString(h + colon + 1, hostLength - colon - 1);
        }
    } else {
        const int colon = FindLastUnit(h, hostLength, kColon);
        if (colon >= 0) {
            host.FromUniString(h, colon);
            port.FromUniString(h + colon + 1, hostLength - colon - 1);
        } else {
            host.FromUniString(h, hostLength);
        }
    }
    if (outUser != nullptr)
        outUser->FromString(user);
    if (outPassword != nullptr)
        outPassword->FromString(password);
    if (outHost != nullptr)
        outHost->FromString(host);
    if (outPort != nullptr)
        outPort->FromString(port);
}

void VURL::GetPath(VString& outPath, EURLPathStyle inStyle, bool inEncoded) const
{
    _GetEncodedPart(outPath, e_Path, inEncoded);
    if (inStyle == eURL_WIN_STYLE)
        POSIX_to_WIN(outPath);
    else if (inStyle == eURL_HFS_STYLE)
        POSIX_to_HFS(outPath);
}

void VURL::GetRelativePath(VString& outPath, EURLPathStyle /*inStyle*/, bool inEncoded) const
{
    _GetEncodedPart(outPath, e_Path, inEncoded);
}

void VURL::GetParameters(VString& outParameters, bool inEncoded) const
{
    _GetEncodedPart(outParameters, e_Parameters, inEncoded);
}

void VURL::GetQuery(VString& outQuery, bool inEncoded) const { _GetEncodedPart(outQuery, e_Query, inEncoded); }

void VURL::GetFragment(VString& outFragment, bool inEncoded) const
{
    _GetEncodedPart(outFragment, e_Fragment, inEncoded);
}

void VURL::GetResourceSpecifier(VString& outSpecifier, bool inEncoded) const
{
    const URLPart& path = fParts[e_Path];
    const int after = path.fStart + path.fLength;  // 1-based
    if (path.fStart <= 0 || after > fURL.GetLength()) {
        outSpecifier.Clear();
        return;
    }
    fURL.GetSubString(after, fURL.GetLength() - after + 1, outSpecifier);
    if (inEncoded)
        Encode(outSpecifier, false, false, true, false);
}

void VURL::GetLastPathComponent(VString& outName, bool inEncoded) const
{
    VStr<255> path;
    _GetPart(path, e_Path);
    const int slash = DropTrailingSlash(path);
    path.GetSubString(slash + 2, path.GetLength() - slash - 1, outName);
    if (inEncoded)
        Encode(outName, false, false, true, false);
}

bool VURL::IsRoot() const
{
    VStr<255> path;
    _GetEncodedPart(path, e_Path, true);
    const int slash = FindUnit(path.GetCPointer(), path.GetLength(), kSlash, 0);
    return slash < 0 || slash == path.GetLength() - 1;
}

bool VURL::ToParent()
{
    if (IsRoot())
        return false;
    VStr<255> path;
    _GetPart(path, e_Path);
    const int slash = DropTrailingSlash(path);
    if (slash < 0)
        return false;
    path.Truncate(slash + 1, false);
    // A text that does not split validly keeps its path.
    if (!_SetPart(path, e_Path))
        return false;
    _Parse(false);
    return true;
}

VURL* VURL::RetainParent() const
{
    auto* parent = new VURL(*this);
    if (!parent->ToParent()) {
        delete parent;
        return nullptr;
    }
    return parent;
}

bool VURL::ToSubFolder(const VString& inName)
{
    VStr<255> path;
    _GetPart(path, e_Path);
    if (!EndsWith(path, kSlash))
        return false;
    path.AppendString(inName);
    if (!_SetPart(path, e_Path))
        return false;
    _Parse(false);
    return true;
}

void VURL::_RemoveLastPathComponent()
{
    VStr<255> path;
    _GetPart(path, e_Path);
    if (EndsWith(path, kSlash))
        return;
    const int slash = FindLastUnit(path.GetCPointer(), path.GetLength(), kSlash);
    // Without any '/' the parent is the empty path.
    path.Truncate(slash + 1, false);
    _SetPart(path, e_Path);
}

bool VURL::GetFilePath(VFilePath& outPath) const
{
    VStr<31> scheme;
    _GetPart(scheme, e_Scheme);
    if (!scheme.IsEmpty() && !scheme.EqualToString(FileScheme(), false)) {
        outPath.Clear();
        return false;
    }
    VStr<255> path;
    _GetPart(path, e_Path);
    if (!BeginsWith(path, kSlash))
        path.Insert(kSlash, 1);
    POSIX_to_HFS(path);
    outPath.FromFullPath(path, FPS_SYSTEM);
    return outPath.IsValid();
}

}  // namespace qelt
