// The JSON text reader: turns JSON text held in a VString into a JSON value,
// or, member by member, into a value bag. It is lenient by default (unquoted
// keys, bare words as strings and a string left open at the end of the text
// are accepted) and strict under option 0x2. The scanner works in place on
// the text's UTF-16 units; only token texts are built.
//
// Every failure answers 'qelt' 550 after the report that says what went
// wrong (551 or 554 an invalid token, 552 an open string, 553 an extra
// comma, 555 nesting too deep); what was read before the failure stays in
// the result unless option 0x1 asks for undefined.
#pragma once

#include <cstdint>
#include <vector>

#include "json/VJSONPropertyTable.h"
#include "json/VJSONValue.h"
#include "kernel/VObject.h"
#include "kernel/VString.h"

namespace qelt {

class VJSONObject;
class VStorageLocker;
class VValueBag;
class IFile;

// Option bits of the importer.
enum : uint32_t {
    kJSONImportUndefinedOnError = 0x1,  // a failed parse leaves undefined
    kJSONImportStrict = 0x2,            // open strings, bare words and unquoted keys fail
    kJSONImportQuietTokens = 0x4,       // invalid tokens push no report (550 still answered)
    kJSONImportPathsAndLines = 0x8,     // record where each member stands
    kJSONImportBangDates = 0x40,        // "!!...!!" strings are dates
    kJSONImportISODates = 0x80,         // "YYYY-MM-DD" strings are dates
    kJSONImportShared = 0x100,          // every container under one new storage locker
    kJSONImportStrictDates = 0x200      // with 0x40 only "!!YYYY-MM-DD!!"; the bag reader's date rule
};

class VJSONImporter : public VObject {
public:
    // Token kinds of the scanner.
    enum JsonToken {
        jsonNone = 0,         // end of the text
        jsonBeginObject = 1,  // {
        jsonEndObject = 2,    // }
        jsonBeginArray = 3,   // [
        jsonEndArray = 4,     // ]
        jsonSeparator = 5,    // ,
        jsonAssigne = 6,      // :
        jsonString = 7,       // a quoted string or a bare word
        jsonOther = 8         // never produced by the scanner
    };

    // Containers nest at most this deep; deeper text fails with 555.
    static constexpr int kMaxDepth = 512;

    VJSONImporter(const VString& inText, uint32_t inOptions);
    ~VJSONImporter() override;

    VJSONImporter(const VJSONImporter&) = delete;
    VJSONImporter& operator=(const VJSONImporter&) = delete;

    // Reads one value from the current position; the text after it is not
    // looked at.
    VError Parse(VJSONValue& outValue);
    static VError ParseString(const VString& inText, VJSONValue& outValue, uint32_t inOptions);
    // Reads the whole file as UTF-8 text (line ends as they are) and parses
    // it, its POSIX path as the source of the reports. A null file gives
    // undefined and 0; a read error is answered as it is, the value untouched.
    static VError ParseFile(IFile* inFile, VJSONValue& outValue, uint32_t inOptions);

    // The scanner: the token's kind, its text (unquoted and unescaped for a
    // quoted string), and whether it was quoted. In strict mode an open
    // string stores 550 through outError (after 552) and answers jsonNone.
    JsonToken GetNextJSONToken(VString& outText, bool* outIsString, VError* outError);
    // The same scan without collecting the text.
    JsonToken GetNextJSONToken(VError* outError);

    // The side object of option 0x8 (paths to {"line", "offset"}), not
    // retained; null without the option.
    VJSONObject* GetPathsLines() const { return fPathsLines; }
    // Under 0x8, records the closing brace of the top-level object under "}".
    void SetPathLineForEncompasingObject();

    // Reads one JSON object into the bag (see VJSONImporter_bag.cpp).
    VError JSONObjectToBag(VValueBag& ioBag);

    // The name a caller may keep the side object under.
    static const VString sNameOfThePropertyWithPathsAndLines;
    // The member under which JSON text carries a value's binary form in
    // Base64 (written by Stringify for values without text form).
    static const VString sBinaryObjectName;

    // The text the error reports give a token kind.
    static VString _TokenToString(JsonToken inToken);
    // The number rule of bare words: an optional '-'; '0' or a run of digits
    // (empty after the '-'); optionally '.' and digits; optionally 'e' or
    // 'E', a sign ('+', '-' or U+2212) and digits; nothing else.
    static bool _IsNumberWord(const UniChar* inUnits, int inLength);
    // Whether the text is exactly the ASCII word.
    static bool _IsWord(const VString& inText, const char* inWord);

private:
    // What the scanner does with a token's text: nothing, build it in the
    // given string, or (in the value and key rules) only note where the
    // units lie when the text is those units unchanged, and build it in
    // fToken only when it has escapes or zero units.
    enum ScanMode { kScanNoText, kScanText, kScanSpan };
    template <ScanMode kMode>
    JsonToken _Scan(VString* outText, bool* outIsString, VError* outError);
    // The span scan: fills fSpan* (or fToken when fSpanDecoded).
    JsonToken _ScanSpan(bool* outIsString, VError* outError)
    {
        return _Scan<kScanSpan>(&fToken, outIsString, outError);
    }
    // The scan without text, with the punctuation that mostly follows a
    // key or a value (after blanks or not) taken inline.
    JsonToken _ScanPunctuation(VError* outError)
    {
        const int start = fPos;
        int p = start;
        if (p < fLength && fUnits[p] <= 0x20)
            p = _PassBlanks(p);
        if (p < fLength) {
            JsonToken token;
            switch (fUnits[p]) {
                case ',': token = jsonSeparator; break;
                case ':': token = jsonAssigne; break;
                case '}': token = jsonEndObject; break;
                case ']': token = jsonEndArray; break;
                default: token = jsonNone; break;
            }
            if (token != jsonNone) {
                fStartToken = start;
                fPos = p + 1;
                return token;
            }
        }
        // The full scan goes on after the blanks already counted; the token
        // still starts before them.
        fPos = p;
        const JsonToken token = _Scan<kScanNoText>(nullptr, nullptr, outError);
        fStartToken = start;
        return token;
    }
    // Reads the next token in place when it is a bare word that is a number
    // of the common short form (ReadShortNumber), as the span scan and the
    // scalar rule would; otherwise passes only the blanks before it.
    bool _ScanShortNumber(double& outNumber)
    {
        int p = fPos;
        if (p < fLength && fUnits[p] <= 0x20) {
            // The blanks are passed (and their line ends counted) once,
            // whatever comes after them.
            p = _PassBlanks(p);
            fPos = p;
        }
        if (p >= fLength || (fUnits[p] != '-' && static_cast<unsigned>(fUnits[p] - '0') > 9u))
            return false;
        return _ReadShortNumberAt(p, outNumber);
    }
    // Passes the blanks before the next token (their line ends counted
    // once) and takes it when it opens an object or an array, answering
    // its kind; otherwise answers jsonNone, the position at the token.
    JsonToken _ScanOpening()
    {
        int p = fPos;
        if (p < fLength && fUnits[p] <= 0x20) {
            p = _PassBlanks(p);
            fPos = p;
        }
        if (p < fLength && (fUnits[p] == '{' || fUnits[p] == '[')) {
            fPos = p + 1;
            return fUnits[p] == '{' ? jsonBeginObject : jsonBeginArray;
        }
        return jsonNone;
    }
    // Reads the next token in place when it is a quoted string whose units
    // are its text unchanged (no escape, zero unit or line end in it), as the
    // span scan would, and answers true; otherwise passes only the blanks
    // before it (their line ends counted once) and leaves the token to the
    // span scan. The token's start is the caller's to set.
    inline bool _ScanPlainString();
    // The same from the unit at inPos, a '-' or a digit after the blanks.
    bool _ReadShortNumberAt(int inPos, double& outNumber);
    // The text of the last span scan (built in fToken when only noted).
    const VString& _SpanText();
    // The scalar rule on the last span scan, reading numbers, literals and
    // plain strings straight from the units.
    VError _SpanToValue(bool inIsString, VJSONValue& outValue, const char* inExpected);
    // Passes the blanks from inPos on, counting line ends; answers the
    // position of the first unit above U+0020 (or the end).
    int _SkipBlanks(int inPos);
    // The same from a blank at inPos, taking the single space after a colon
    // or a comma without a call.
    int _PassBlanks(int inPos)
    {
        if (fUnits[inPos] == ' ' && inPos + 1 < fLength && fUnits[inPos + 1] > 0x20)
            return inPos + 1;
        return _SkipBlanks(inPos);
    }
    // Passes a line end at the unit's position (CR counts only when no LF follows).
    void _CountLineEnd(UniChar inUnit, int inPosition)
    {
        if (inUnit == '\n' || (inUnit == '\r' && (inPosition + 1 >= fLength || fUnits[inPosition + 1] != '\n'))) {
            ++fLine;
            fLineStart = inPosition + 1;
        }
    }

    // The value rule, into a new undefined value; a string token's text is
    // the last span scan's.
    VError _ParseValue(VJSONValue& ioValue, const char* inExpected, JsonToken inFirst, bool inIsString);
    VError _ParseObject(VJSONValue& outValue);
    VError _ParseArray(VJSONValue& outValue);
    VError _StringToValue(const VString& inText, bool inIsString, VJSONValue& outValue, const char* inExpected);
    // Shares the containers under the importer's locker (option 0x100).
    void _Share(const VJSONValue& inContainer);
    // Store a member or element the importer read: unconnected (the tree is
    // connected once, by Parse) unless the importer shares its containers
    // or the container must be stored into the ordinary way.
    void _StoreMember(VJSONValue& ioObject, const VString& inName, VJSONValue& ioMember);
    void _StoreElement(VJSONValue& ioArray, VJSONValue& ioElement);
    // Under fConnectLater the elements of an array and the members of an
    // object wait on fElements and fMembers until the container ends, so
    // that its list is allocated once, at its final size.
    void _StackElement(VJSONValue& ioElement);
    void _StackMember(const VString& inName, VJSONValue& ioMember);
    // Stacks a member whose value is the last short number read (inNumber)
    // or the last span scan's plain string, made in its place.
    void _StackScalarMember(const VString& inName, bool inIsString, double inNumber);
    // Moves what was stacked from inBase on into the container and takes it
    // off the stack.
    void _UnstackElements(VJSONValue& ioArray, size_t inBase);
    void _UnstackMembers(VJSONValue& ioObject, size_t inBase);
    // The property name as a counted string that the objects of this import
    // share, so that a name met again is stored without a copy of its units.
    const VString& _SharedName(const VString& inName);
    const VString& _SharedName(const UniChar* inUnits, int inLength);
    // The same for a name not found at once: looks again, keeps it or
    // makes it, growing the table while names keep missing.
    const VString& _NewSharedName(const UniChar* inUnits, int inLength);
    // Whether the name is one of the kept names (fNames). Their blocks are
    // made by this parse and reach no other thread before the tree is
    // handed out, so the members share them with a plain count
    // (VString::LocalShareTag) instead of a locked one per member.
    bool _IsKeptName(const VString& inName) const
    {
        const auto at = reinterpret_cast<uintptr_t>(&inName);
        const auto first = reinterpret_cast<uintptr_t>(fNames.data());
        return at - first < fNames.size() * sizeof(VString);
    }
    // Records a member or element under the current path (option 0x8).
    void _RecordPathLine(int inOffset);

    VError _ThrowErrorInvalidToken(const VString& inFound, const char* inExpected);
    VError _ThrowErrorUnterminated(const VString& inToken);
    VError _ThrowErrorExtraComma(const VString& inToken);
    VError _ThrowErrorMalformed();
    VError _ThrowErrorTooDeep();
    VString _GetStartTokenFirstChar() const;
    UniChar _GetNextChar(bool& outAtEnd);

    // The bag reader's recursion (VJSONImporter_bag.cpp).
    VError _ObjectToBag(VValueBag& ioBag, bool inFirstTokenRead);

    VString fText;
    const UniChar* fUnits = nullptr;
    int fLength = 0;
    int fPos = 0;
    int fStartToken = 0;
    uint32_t fOptions;
    VString fSource;
    int32_t fBagLevel = 0;
    VString fCurrentPath;
    VJSONObject* fPathsLines = nullptr;
    int fLine = 1;
    int fLineStart = 0;
    VStorageLocker* fLocker = nullptr;
    bool fStrictDates = false;
    // Containers are stored unconnected and the tree connected at the end.
    bool fConnectLater = true;
    int fDepth = 0;
    // Recently met property names, by a hash of their units, in pairs of
    // slots; names longer than kLongestSharedName are not kept.
    static constexpr int kLongestSharedName = 64;
    std::vector<VString> fNames;
    // Names missed since the table last grew.
    size_t fNameMisses = 0;
    // A name that is not kept, made for the object that stores it.
    VString fName;
    // The elements and the members of the containers being read, innermost
    // last.
    std::vector<VJSONValue> fElements;
    std::vector<VJSONPropertyEntry> fMembers;
    // Token text buffer reused by the value rules.
    VString fToken;
    // The last span scan: the units of its text in the input, unless the
    // text had to be decoded into fToken.
    int fSpanBegin = 0;
    int fSpanLength = 0;
    bool fSpanDecoded = false;
    // Whether the object read last has a member named sBinaryObjectName.
    bool fBinaryNameMet = false;
};

}  // namespace qelt
