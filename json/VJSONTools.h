// Small tools around the JSON model: one-line edits by path (VJSONAlter),
// an iterator over property names or a range of array elements
// (VJSONIter), writers that build the text of an array of scalars or of one
// flat object directly (VJSONArrayWriter, VJSONSingleObjectWriter), and a
// reader that takes the scalar items of a JSON array text
// (VJSONArrayReader); and the test for function objects.
#pragma once

#include <cstdint>
#include <vector>

#include "json/IJSONObject.h"
#include "json/VJSONValue.h"
#include "kernel/VObject.h"
#include "kernel/VString.h"

namespace qelt {

class VJSONObject;
class VJSONArray;
class VTime;
class VValueSingle;

// Each constructor does the whole edit: the value is made an object when it
// is not one (except by the removing constructor), then the new value is set
// at the path as VJSONObject::SetPropertyWithPath sets it.
class VJSONAlter {
public:
    explicit VJSONAlter(VJSONValue& ioValue);
    // Removes the property whose name is the whole path text (no path walk).
    VJSONAlter(VJSONValue& ioValue, const VString& inPath);
    VJSONAlter(VJSONValue& ioValue, const VString& inPath, bool inFlag);
    VJSONAlter(VJSONValue& ioValue, const VString& inPath, int inNumber);
    VJSONAlter(VJSONValue& ioValue, const VString& inPath, double inNumber);
    VJSONAlter(VJSONValue& ioValue, const VString& inPath, const VString& inText);
    VJSONAlter(VJSONValue& ioValue, const VString& inPath, const char* inText);
    VJSONAlter(VJSONValue& ioValue, const VString& inPath, const UniChar* inText);
    VJSONAlter(VJSONValue& ioValue, const VString& inPath, const VJSONValue& inNewValue);
    // A new empty value of the type; *outArray receives the new array (no
    // reference of its own) when the type is array, else null.
    VJSONAlter(VJSONValue& ioValue, const VString& inPath, JSONType inType, VJSONArray** outArray);
    // The time's JSON text (a string, not a date value).
    VJSONAlter(VJSONValue& ioValue, const VString& inPath, const VTime& inTime);

private:
    static void _Set(VJSONValue& ioValue, const VString& inPath, const VJSONValue& inNewValue);
};

// The property names of an object (as strings), or the elements of a range
// of an array. Reference counted (count 1 at creation).
class VJSONIter : public VObject, public IJSONObject {
public:
    // Objects: every name in the ordered iterator's order (start, end and
    // toEnd go to an implementation's own iterator only).
    VJSONIter(VJSONObject* inObject, int inStart, int inEnd, bool inToEnd);
    // Arrays: the range [start, end), counted from the end when negative;
    // toEnd makes the end the number of elements.
    VJSONIter(VJSONArray* inArray, int inStart, int inEnd, bool inToEnd);
    ~VJSONIter() override;

    // The next item; false at the end.
    bool NextValue(VJSONValue& outValue);

private:
    VJSONValue fTarget;
    std::vector<VString> fNames;
    size_t fNextName = 0;
    int32_t fEnd = 0;
    int32_t fStart = 0;
    IJSONObject* fImplementation = nullptr;
    IJSONIterator* fImplementationIterator = nullptr;
};

// The text of a JSON array of scalars, built item by item.
class VJSONArrayWriter {
public:
    VJSONArrayWriter();
    ~VJSONArrayWriter();

    VJSONArrayWriter(const VJSONArrayWriter&) = delete;
    VJSONArrayWriter& operator=(const VJSONArrayWriter&) = delete;

    // The value's JSON text; nothing when it has none.
    void Add(const VValueSingle& inValue, unsigned int inOptions);
    void AddString(const VString& inText, unsigned int inOptions);
    void AddString(const char* inText, unsigned int inOptions);
    void AddLong(int inNumber);
    void AddReal(double inNumber);
    void AddBool(bool inFlag);
    void AddLongs(const int* inNumbers, int inCount);
    void AddWords(const short* inNumbers, int inCount);
    void AddReals(const double* inNumbers, int inCount);
    void AddBools(const char* inFlags, int inCount);
    void AddStrings(const std::vector<VString>& inTexts, unsigned int inOptions);
    // The other writer's closed text as a nested array; the other is reset.
    void AddJSONArray(VJSONArrayWriter& ioOther);

    void Close();
    // Closes and copies the text; unless kept, the writer starts again at "[]".
    void GetArray(VString& outText, bool inKeep);

private:
    void _Open();
    void _AppendItem(const VString& inItem);

    VString fText;
    bool fClosed = false;
};

// The text of one flat JSON object, built member by member.
class VJSONSingleObjectWriter : public VObject {
public:
    VJSONSingleObjectWriter();
    ~VJSONSingleObjectWriter() override;

    // False, nothing written, for an empty name or a value without JSON text.
    bool AddMember(const VString& inName, const VValueSingle& inValue, unsigned int inOptions);
    void GetObject(VString& outText);

private:
    VString fText;
    bool fClosed = false;
    int32_t fCount = 0;
};

// The scalar items of a JSON array text: strings unquoted and unescaped,
// numbers and literals as written. Nested arrays are skipped; the items of
// an object inside the array are taken too. A text without a whole array
// records 'qelt' 550 (not raised) and gives no items.
class VJSONArrayReader : public VObject {
public:
    VJSONArrayReader();
    explicit VJSONArrayReader(const VString& inText);
    ~VJSONArrayReader() override;

    void FromJSONString(const VString& inText);
    int32_t GetCountOfElements(VError* outError) const;
    // With an error nothing is written and the error answered; the caller
    // gives room for GetCountOfElements items.
    VError ToArrayShort(short* outValues) const;
    VError ToArrayLong(int* outValues) const;
    VError ToArrayReal(double* outValues) const;
    VError ToArrayBool(char* outValues) const;
    VError ToArrayString(std::vector<VString>& outValues, bool inAppend) const;

private:
    void _Parse(const VString& inText);

    VError fError = VE_OK;
    std::vector<VString> fItems;
    int32_t fCount = 0;
};

// Whether the object is a function object: an instance of the root class
// "Function" of the process's class store. False for null, for a value that
// holds no object, and without a class store.
bool IsObjectAFormula(const VJSONObject* inObject);
bool IsObjectAFormula(const VJSONValue& inValue);

}  // namespace qelt
