// URLs on arbitrary text. The first byte chooses how the text is set
// (plain, encoded, or relative to a base taken from the text after its
// first zero unit); then every getter and setter runs, the net location is
// split, and the text goes through Encode and Decode: encoded text is safe,
// and decoding it gives the text back when it is composed and holds no CR
// and no lone surrogate.
#include "files/VFilePath.h"
#include "files/VURL.h"
#include "fuzz/FuzzSupport.h"

using namespace qelt;

namespace {

bool IsRoundTripText(const VString& inText)
{
    const UniChar* p = inText.GetCPointer();
    const int length = inText.GetLength();
    for (int i = 0; i < length; ++i) {
        const UniChar c = p[i];
        if (c == 13)
            return false;
        if (c >= 0xD800 && c <= 0xDBFF) {
            if (i + 1 >= length || p[i + 1] < 0xDC00 || p[i + 1] > 0xDFFF)
                return false;
            ++i;
        } else if (c >= 0xDC00 && c <= 0xDFFF) {
            return false;
        }
    }
    VString composed(inText);
    composed.Compose();
    return composed.EqualToStringRaw(inText);
}

void ReadEverything(const VURL& inURL)
{
    VString out;
    for (int encoded = 0; encoded < 2; ++encoded) {
        const bool e = encoded != 0;
        inURL.GetAbsoluteURL(out, e);
        inURL.GetRelativeURL(out, e);
        inURL.GetNetworkLocation(out, e);
        inURL.GetHostName(out, e);
        inURL.GetUserName(out, e);
        inURL.GetPassword(out, e);
        inURL.GetPortNumber(out, e);
        for (int style = 0; style < 3; ++style) {
            inURL.GetPath(out, static_cast<EURLPathStyle>(style), e);
            inURL.GetRelativePath(out, static_cast<EURLPathStyle>(style), e);
        }
        inURL.GetParameters(out, e);
        inURL.GetQuery(out, e);
        inURL.GetFragment(out, e);
        inURL.GetResourceSpecifier(out, e);
        inURL.GetLastPathComponent(out, e);
    }
    inURL.GetScheme(out);
    inURL.IsScheme(out);
    const int port = inURL.GetPortNumber();
    fuzz::Check(port >= -1 && port <= 65536, "a port number is -1 to 65536");
    inURL.IsRoot();
    VFilePath path;
    inURL.GetFilePath(path);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    fuzz::Setup();
    fuzz::Scope scope;
    if (size == 0)
        return 0;
    const uint8_t mode = data[0];
    VString all;
    fuzz::MakeText(data + 1, size - 1, all);
    VString text(all);
    VString base;
    const int zero = all.FindUniChar(0);
    if (zero > 0) {
        all.GetSubString(1, zero - 1, text);
        all.GetSubString(zero + 1, all.GetLength() - zero, base);
    }

    VURL url;
    switch ((mode >> 1) % 3) {
        case 0: {
            url.FromString(text, false);
            VString back;
            url.GetAbsoluteURL(back, false);
            fuzz::Check(back.EqualToStringRaw(text), "a plain URL keeps its text");
            break;
        }
        case 1:
            url.FromString(text, true);
            break;
        default:
            url.FromString(text, base, (mode & 0x10) != 0);
            break;
    }
    ReadEverything(url);

    VURL edited(url);
    const bool encoded = (mode & 0x20) != 0;
    switch ((mode >> 6) % 4) {
        case 0:
            edited.SetScheme(base);
            edited.SetNetWorkLocation(base, encoded);
            break;
        case 1:
            edited.SetRelativePath(base, static_cast<EURLPathStyle>(mode % 3), encoded);
            edited.SetParameters(base, encoded);
            break;
        case 2:
            edited.SetQuery(base, encoded);
            edited.SetFragment(base, encoded);
            break;
        default:
            edited.ToSubFolder(base);
            break;
    }
    ReadEverything(edited);
    for (int i = 0; i < 4 && edited.ToParent(); ++i) {
    }
    delete edited.RetainParent();

    VString user, password, host, port;
    VURL::ParseNetLocation(text, &user, &password, &host, &port);
    fuzz::Check(user.GetLength() + password.GetLength() + host.GetLength() + port.GetLength() <= text.GetLength(),
                "the pieces of a net location lie in it");

    for (int brackets = 0; brackets < 2; ++brackets) {
        VString encodedText(text);
        VURL::Encode(encodedText, false, false, brackets != 0, (mode & 0x40) != 0);
        if ((mode & 0x40) == 0)
            fuzz::Check(VURL::_ContainsOnlySafeCharacters(encodedText), "encoded text is safe");
        VString decoded(encodedText);
        VURL::Decode(decoded);
        if (IsRoundTripText(text) && (mode & 0x40) == 0)
            fuzz::Check(decoded.EqualToStringRaw(text), "decoding encoded text gives it back");
    }
    VString decoded(text);
    VURL::Decode(decoded);
    return 0;
}
