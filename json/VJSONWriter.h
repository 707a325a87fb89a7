// The JSON text writer: turns a JSON value into JSON text. One flags word
// steers it; it is also handed on as the options of the string and time
// writers, so standard JSON text needs kJSONWriteQuoted.
//
// A container that fails leaves the text it was writing into as it was; the
// failure travels up through every enclosing container.
#pragma once

#include <cstdint>
#include <set>
#include <vector>

#include "json/VJSONValue.h"
#include "kernel/VObject.h"
#include "kernel/VString.h"

namespace qelt {

class VJSONObject;
class VJSONArray;
class VDBLanguageContext;
class IFile;

// Flag bits of the writer (the others reach the string and time writers).
enum : unsigned int {
    kJSONWriteQuoted = 0x1,           // strings, names and dates between double quotes
    kJSONWritePretty = 0x8,           // one member per line, TAB indentation, ": "
    kJSONWriteRawStrings = 0x10,      // strings and names copied without escaping
    kJSONWriteLocalMidnight = 0x80,   // a date written as the local midnight of its day
    kJSONWriteNoBinary = 0x100,       // an object with a binary form fails (911)
    kJSONWriteDateAlone = 0x200,      // a date at midnight written as the date alone
    kJSONWriteEscapeAmpApos = 0x400,  // '&' and the apostrophe escaped too
    kJSONWriteBinaryFallback = 0x800, // Stringify only: a value without text form goes as Base64 binary
    kJSONWriteBangDates = 0x1000,     // dates between "!!" marks
    kJSONWriteCircular = 0x2000,      // a cycle through an object is written "[circular]"
    kJSONWritePreview = 0x4000,       // stop after about 512 characters, then "..."
    kJSONWriteGenericOnly = 0x8000,   // an object that is not generic fails (914)
    kJSONWriteOnce = 0x10000          // an object met twice fails (916)
};

class VJSONWriter : public VObject {
public:
    // Containers nest at most this deep; deeper values fail with 'qelt' 108.
    static constexpr int kMaxDepth = 512;

    VJSONWriter(VDBLanguageContext* inContext, unsigned int inFlags);
    explicit VJSONWriter(unsigned int inFlags);
    ~VJSONWriter() override;

    VJSONWriter(const VJSONWriter&) = delete;
    VJSONWriter& operator=(const VJSONWriter&) = delete;

    // The value's text replaces out's content; on failure out is unchanged.
    VError StringifyValue(const VJSONValue& inValue, VString& outText);
    VError StringifyObject(const VJSONObject* inObject, VString& outText);
    VError StringifyArray(const VJSONArray* inArray, VString& outText);

    // Layout helpers for implementations that write themselves.
    void IncrementLevel();
    void DecrementLevel();
    void InsertIndentString(VString& ioText) const;
    void AppendIndentString(VString& ioText) const;

    unsigned int GetFlags() const { return fFlags; }
    int GetLevel() const { return fLevel; }

    // Writes the value's text as the file's whole content in UTF-8, line
    // ends as they are, without byte-order mark. The text is written to a
    // new file beside the old one and renamed over it, so that a failure at
    // any step leaves the old content whole. A null file: 0, nothing done.
    static VError StringifyValueToFile(IFile* inFile, const VJSONValue& inValue, unsigned int inFlags);

private:
    // Runs one of the rules below into a new text that replaces out's
    // content on success. A stringify started from inside another (an
    // implementation writing a member) writes its own text and leaves the
    // outer one as it was.
    template <class Write>
    VError _Stringify(Write&& inWrite, VString& outText);
    // Each appends the text to the text being written; on failure what it
    // appended is cut back.
    VError _Value(const VJSONValue& inValue);
    VError _Object(const VJSONObject* inObject);
    VError _Array(const VJSONArray* inArray);
    // Room for inExtra more units; false (and fOutOfRoom set) when the text
    // cannot grow.
    bool _Reserve(int inExtra)
    {
        if (inExtra <= fCapacity - fLength)
            return true;
        return _Grow(inExtra);
    }
    bool _Grow(int inExtra);
    void _Put(const VString& inPiece);
    void _PutAscii(const char* inPiece, int inLength);
    void _PutChar(UniChar inUnit)
    {
        if (_Reserve(1))
            fUnits[fLength++] = inUnit;
    }
    // Appends the string in JSON form under the writer's flags.
    VError _PutJSONString(const UniChar* inUnits, int inLength);
    bool _OnStack(const void* inContainer) const;
    VError _Fail(int inNumber);
    // Closes a container's text (after its members) and answers the error.
    VError _Close(int inStart, bool inStopped, UniChar inClose);
    bool _PreviewFull(int inItemStart);

    VDBLanguageContext* fContext = nullptr;
    unsigned int fFlags;
    int fLevel = 0;
    VString fIndent;
    VString fPrefix;
    std::vector<const void*> fStack;
    std::set<const VJSONObject*> fWritten;
    uint32_t fPreviewCount = 0;
    bool fEllipsis = false;
    // Set when an append could not be made (the text would be too long).
    bool fOutOfRoom = false;
    VString fScratch;
    // The text being written: its units are written in place in fText's
    // buffer, and fText's length is set once the text is complete.
    VString* fText = nullptr;
    UniChar* fUnits = nullptr;
    int fLength = 0;
    int fCapacity = 0;
};

}  // namespace qelt
