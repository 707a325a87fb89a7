// The URL value: the text of a URL with the positions of its six parts
// (scheme://net location/path;parameters?query#fragment), so that each part
// is read, replaced or percent-encoded without parsing again. It is built
// from URL text (plain or percent-encoded), from a file path or from a path
// text in one of the path styles, and turns back into a file path. The
// statics convert path texts between the POSIX, the toolbox's own ':' and
// the Windows styles, and move texts to and from percent encoding.
#pragma once

#include "kernel/VObject.h"
#include "kernel/VString.h"

namespace qelt {

class VFilePath;
class VFolder;

// The parts of a URL, in text order.
enum EURLParts {
    e_Scheme = 0,
    e_NetLoc = 1,
    e_Path = 2,
    e_Parameters = 3,
    e_Query = 4,
    e_Fragment = 5
};

// Where a part lies in the URL text: its first unit (from 1; 0 when the
// part is absent) and its length in units.
struct URLPart {
    int fStart = 0;
    int fLength = 0;
};

// The style of a path text for conversions.
enum EURLPathStyle {
    eURL_POSIX_STYLE = 0,
    eURL_HFS_STYLE = 1,  // the toolbox's own ':' form
    eURL_WIN_STYLE = 2
};

class VURL : public VObject {
public:
    VURL() = default;
    VURL(const VURL& inURL);
    VURL& operator=(const VURL& inURL);
    VURL(const VString& inText, bool inEncoded);
    explicit VURL(const VFilePath& inPath);
    VURL(const VString& inPath, EURLPathStyle inStyle, const VString& inPrefix);
    VURL(const VFolder& inFolder, const VString& inRelativePath, EURLPathStyle inStyle);
    ~VURL() override;

    // ---- Setting ------------------------------------------------------
    // With inEncoded the text is percent-encoded: it is kept as the encoded
    // text when it holds safe characters only, and the parts are decoded.
    void FromString(const VString& inText, bool inEncoded);
    // A text without "://" is taken relative to the base ("base/text").
    void FromString(const VString& inText, const VString& inBase, bool inEncoded);
    // The "file" URL of a path; ';', '?' and '#' stay in its path.
    void FromFilePath(const VFilePath& inPath);
    // A path text in a style, put after a prefix (such as "file://").
    void FromFilePath(const VString& inPath, EURLPathStyle inStyle, const VString& inPrefix);
    // The "file" URL of a path relative to a folder: POSIX and Windows texts
    // ('\\' read as '/') or the toolbox's own form; a POSIX text that begins
    // with '/' is a full path of its own.
    void FromRelativePath(const VFolder& inFolder, const VString& inRelativePath, EURLPathStyle inStyle);
    void FromURL(const VURL& inURL);
    void Clear();

    void SetScheme(const VString& inScheme);
    void SetNetWorkLocation(const VString& inNetLocation, bool inEncoded);
    void SetRelativePath(const VString& inPath, EURLPathStyle inStyle, bool inEncoded);
    void SetParameters(const VString& inParameters, bool inEncoded);
    void SetQuery(const VString& inQuery, bool inEncoded);
    void SetFragment(const VString& inFragment, bool inEncoded);

    // The path loses its last element; false at the root.
    bool ToParent();
    // A new URL one level up for the caller to delete, or null.
    VURL* RetainParent() const;
    // Appends a name to a path that ends with '/'.
    bool ToSubFolder(const VString& inName);

    // ---- Reading ------------------------------------------------------
    // With inEncoded a part comes percent-encoded (the net location keeps
    // its brackets).
    bool IsValid() const { return fIsValid; }
    void GetAbsoluteURL(VString& outURL, bool inEncoded) const;
    void GetRelativeURL(VString& outURL, bool inEncoded) const;
    void GetScheme(VString& outScheme) const;
    // Exact (unit by unit) equality of the scheme with a text.
    bool IsScheme(const VString& inScheme) const;
    void GetNetworkLocation(VString& outNetLocation, bool inEncoded) const;
    void GetHostName(VString& outHost, bool inEncoded) const;
    void GetUserName(VString& outUser, bool inEncoded) const;
    void GetPassword(VString& outPassword, bool inEncoded) const;
    void GetPortNumber(VString& outPort, bool inEncoded) const;
    // The port as a number: 0 when empty, -1 above 65536 or with a space;
    // units that are no digits are passed over.
    int GetPortNumber() const;
    void GetPath(VString& outPath, EURLPathStyle inStyle, bool inEncoded) const;
    void GetRelativePath(VString& outPath, EURLPathStyle inStyle, bool inEncoded) const;
    void GetParameters(VString& outParameters, bool inEncoded) const;
    void GetQuery(VString& outQuery, bool inEncoded) const;
    void GetFragment(VString& outFragment, bool inEncoded) const;
    // Everything after the path, its delimiters included.
    void GetResourceSpecifier(VString& outSpecifier, bool inEncoded) const;
    void GetLastPathComponent(VString& outName, bool inEncoded) const;
    // True for a path without '/' or with its only '/' at its end.
    bool IsRoot() const;
    // The file path of a "file" URL (or one without scheme); false, with the
    // path cleared, for another scheme.
    bool GetFilePath(VFilePath& outPath) const;

    // Splits a net location "user:password@host:port" (a host in brackets
    // may hold ':'); each output may be null.
    static void ParseNetLocation(const VString& inNetLocation, VString* outUser, VString* outPassword,
                                 VString* outHost, VString* outPort);

    // ---- Percent encoding -----------------------------------------------
    // Encodes the UTF-8 bytes of the text (line ends as LF): every unsafe
    // byte becomes '%' and two upper-case hexadecimal digits. The unsafe
    // bytes are the controls, 0x7F-0xFF, the space and <>"#%{}|\^` and,
    // with inEscapeBrackets, [ and ].
    static void Encode(VString& ioText, bool inKeepColon = false, bool inDecompose = false,
                       bool inEscapeBrackets = true, bool inKeepUnicodeEscapes = false);
    // Decodes every '%' followed by two hexadecimal digits; a run of two or
    // more such bytes is read as UTF-8, a single byte as ISO-8859-1. Any
    // other '%' stays as it is. The result is composed (NFC).
    static void Decode(VString& ioText);
    // Whether every unit is a character that may stand in a URL as it is
    // (reserved, unreserved, '%'); true for an empty text.
    static bool _ContainsOnlySafeCharacters(const VString& inText);

    // ---- Path style conversions (in place) ------------------------------
    // POSIX to HFS, HFS to POSIX (relative or full), POSIX to Windows and
    // back; any other pair changes nothing.
    static void Convert(VString& ioText, EURLPathStyle inFrom, EURLPathStyle inTo, bool inRelative);
    // A text beginning with '/' is a full path (through the volumes); any
    // other is converted by the relative rules: "./" drops out, each run of
    // '/' is one ':', "../" is one more ':' (a step up once appended to a
    // folder), a trailing "." or ".." is taken as "./" or "../", and a ':' in
    // a name becomes '/'.
    static void POSIX_to_HFS(VString& ioText);
    // Relative: each ':' is a '/', n consecutive ':' are one '/' and n-1
    // "../" (leading ':' write no '/'), and a '/' in a name becomes ':'.
    static void HFS_to_POSIX(VString& ioText, bool inRelative);
    static void POSIX_to_WIN(VString& ioText);
    static void WIN_to_POSIX(VString& ioText);

    // ---- Helpers ------------------------------------------------------
    // Splits a text into its parts; answers whether it is a valid URL.
    static bool _BuildURLArray(const VString& inText, bool inNoSubParts, URLPart (&outParts)[6]);

private:
    void _Parse(bool inNoSubParts);
    void _GetPart(VString& outPart, EURLParts inPart) const;
    void _GetEncodedPart(VString& outPart, EURLParts inPart, bool inEncoded) const;
    // Rebuilds the URL text with a part replaced (nothing when the text does
    // not split validly: false); the caller splits again.
    bool _SetPart(const VString& inText, EURLParts inPart);
    void _DecodeParts();
    void _RemoveLastPathComponent();
    void _SetDecodedPart(const VString& inText, EURLParts inPart, bool inEncoded);

    URLPart fParts[6];
    VString fURL;         // as set (decoded when it was set encoded)
    VString fEncodedURL;  // the encoded text received, when it was safe
    bool fIsValid = false;
};

}  // namespace qelt
