// The JSON value: one JSON datum held by value (null, false, true, a string,
// a number, an object, an array, undefined or a calendar date), with the
// change stamp that containers report for it. Objects and arrays are held by
// one counted reference; a string shares the counted UTF-16 block of VString.
#pragma once

#include <atomic>
#include <cstdint>
#include <cstring>
#include <set>
#include <unordered_set>

#include "kernel/IRefCountable.h"
#include "kernel/VKernelTypes.h"
#include "kernel/VObject.h"
#include "kernel/VString.h"
#include "kernel/VStringBlock.h"

namespace qelt {

class VJSONObject;
class VJSONArray;
class VCompareOptions;
class VValueSingle;
class VTime;
class IFile;

// The types of JSON values.
enum JSONType : int32_t {
    JSON_null = 0,
    JSON_false = 1,
    JSON_true = 2,
    JSON_string = 3,
    JSON_number = 4,
    JSON_object = 5,
    JSON_array = 6,
    JSON_undefined = 7,
    JSON_date = 8,  // a calendar date (UTC) without time of day
    JSON_last = 9   // marks the end of the enumeration
};

// The change counter shared by the objects and arrays of one tree.
class VJSONStamp : public VObject, public IRefCountable {
public:
    VJSONStamp() = default;
    ~VJSONStamp() override;

    uint32_t GetCounter() const { return fCounter.load(std::memory_order_relaxed); }
    // Raised once per change of the tree.
    void Increment() { fCounter.fetch_add(1, std::memory_order_relaxed); }

private:
    std::atomic<uint32_t> fCounter{0};
};

// The process-wide counter of string tags (a new tag is the value before the
// increment, so the first is 0).
extern std::atomic<uint32_t> __VInlineString_tag;

class VJSONValue final : public VObject {
public:
    // An undefined value with a fresh stamp (containers always pass a type).
    VJSONValue() : VJSONValue(JSON_undefined) {}
    // A value of the type with an empty payload: the empty string, 0, a new
    // empty object or array, the date 0. Other types are stored as given.
    explicit VJSONValue(JSONType inType);
    // Retains the container; null gives a null value.
    explicit VJSONValue(VJSONObject* inObject);
    explicit VJSONValue(VJSONArray* inArray);
    // A null string gives a null value; otherwise the string's block is
    // shared (copied into a new counted block when it is not shareable).
    explicit VJSONValue(const VString& inString);
    // Shares the record's block.
    explicit VJSONValue(const VInlineString& inString);
    explicit VJSONValue(double inNumber);
    // A null time gives a null value; otherwise a date value of the time's
    // UTC year, month and day (the time of day is dropped).
    explicit VJSONValue(const VTime& inTime);

    // A copy takes a fresh stamp; a move keeps the source's stamp and leaves
    // the source without payload (an empty string, a null reference).
    VJSONValue(const VJSONValue& inOther);
    VJSONValue(VJSONValue&& ioOther) noexcept : VObject(ioOther), fType(ioOther.fType), fStamp(ioOther.fStamp)
    {
        // Written here, with the destructor, so that the lists and trees
        // that move and drop values by the hundred thousand call nothing
        // for a scalar.
        std::memcpy(static_cast<void*>(&fString), &ioOther.fString, sizeof(fString));
        ioOther._ForgetPayload();
    }
    VJSONValue& operator=(const VJSONValue& inOther);
    VJSONValue& operator=(VJSONValue&& ioOther) noexcept;
    ~VJSONValue() override
    {
        if (_HoldsReference())
            _ReleasePayload();
    }

    // ---- Type ---------------------------------------------------------
    JSONType GetType() const { return fType; }
    uint32_t GetStamp() const { return fStamp; }
    // Gives the value a fresh stamp.
    void _TouchStamp() { fStamp = NewStamp(); }
    bool IsNull() const { return fType == JSON_null; }
    bool IsUndefined() const { return fType == JSON_undefined; }
    bool IsBool() const { return fType == JSON_false || fType == JSON_true; }
    bool IsString() const { return fType == JSON_string; }
    bool IsNumber() const { return fType == JSON_number; }
    bool IsObject() const { return fType == JSON_object; }
    bool IsArray() const { return fType == JSON_array; }
    bool IsDate() const { return fType == JSON_date; }

    // ---- Setters (the stamp is kept) ------------------------------------
    void SetNull() { _SetScalarType(JSON_null); }
    void SetUndefined() { _SetScalarType(JSON_undefined); }
    void SetBool(bool inValue) { _SetScalarType(inValue ? JSON_true : JSON_false); }
    void SetNumber(double inValue)
    {
        _SetScalarType(JSON_number);
        fNumber = inValue;
    }
    void SetString(const VString& inString);
    void SetString(const VInlineString& inString);
    // SetString of a record whose count the caller owns and hands over (a
    // block it has just made): the value keeps that count instead of
    // taking one of its own while the caller lets go of its own.
    void _AdoptString(const VInlineString& inString);
    void SetObject(VJSONObject* inObject);
    void SetArray(VJSONArray* inArray);
    void SetTime(const VTime& inTime);
    void SetDate(short inYear, short inMonth, short inDay);
    // Empties the value within its type (true becomes false, containers null).
    void Clear();

    // ---- Views ----------------------------------------------------------
    double GetNumber() const;
    bool GetBool() const;
    // The text view; an array that contains itself answers error 900.
    VError GetString(VString& outText, std::unordered_set<const VJSONArray*>* ioVisited = nullptr) const;
    // A date gives its midnight UTC, a string its reading as a time; any
    // other type a null time.
    void GetTime(VTime& outTime) const;
    bool GetDate(short* outYear, short* outMonth, short* outDay) const;
    // The container with one reference for the caller, or null.
    VJSONObject* RetainObject() const;
    VJSONArray* RetainArray() const;
    // The container without a new reference (null for other types).
    VJSONObject* GetObject() const { return fType == JSON_object ? fObject : nullptr; }
    VJSONArray* GetArray() const { return fType == JSON_array ? fArray : nullptr; }
    // The string record (only meaningful for a string value).
    const VInlineString& GetInlineString() const { return fString.fRecord; }
    uint32_t GetStringTag() const { return fString.fTag; }
    // A new single value owned by the caller.
    VValueSingle* CreateVValue(bool inMarkContainers) const;

    // ---- Comparisons ----------------------------------------------------
    CompareResult CompareTo(const VJSONValue& inOther, const VCompareOptions& inOptions) const;
    bool DeepEqualTo(const VJSONValue& inOther, const VCompareOptions& inOptions) const;

    // ---- Property shortcuts for object values -----------------------------
    VJSONValue GetProperty(const VString& inName) const;
    void SetProperty(const VString& inName, const VJSONValue& inValue) const;

    // ---- JSON text --------------------------------------------------------
    // Reads the value from JSON text: options 0; with inDetectDates, quoted
    // "!!...!!" and "YYYY-MM-DD" strings are dates (0xC0), with both flags
    // only "!!YYYY-MM-DD!!" strings (0x240).
    VError ParseFromString(const VString& inText, bool inDetectDates = false, bool inStrictDates = false);
    // The same from a file's UTF-8 text (options 0, or 0xC0 with dates).
    VError LoadFromFile(IFile* inFile, bool inDetectDates = false);
    // Writes the value's text into the file, replacing it safely.
    VError SaveToFile(IFile* inFile, unsigned int inFlags) const;
    // Writes the value as JSON text (0x1 quotes strings, names and dates;
    // 0x8 pretty form; 0x2000 writes a repeated object as "[circular]").
    VError Stringify(VString& outText, unsigned int inFlags) const;

    // ---- Typed reads by path (root an object, null context) ----------------
    // True only when the path leads to the value true.
    static bool GetBoolByPath(const VJSONValue& inRoot, const VString& inPath);
    // A number truncated toward zero; out of the 32-bit range (and NaN)
    // -2147483648; 0 when the path leads to no number.
    static int32_t GetLongByPath(const VJSONValue& inRoot, const VString& inPath);
    // True, with the text, when the path leads to a string.
    static bool GetStringByPath(const VJSONValue& inRoot, const VString& inPath, VString& outText);

    // ---- Stamps -----------------------------------------------------------
    // Raises the stamp's counter and spreads the stamp over the tree under
    // the value; nothing for a null stamp.
    static void CheckAndUpdateJsonStamp(const VJSONValue& inValue, VJSONStamp* inStamp);

    // Self-check of the model; reports nothing.
    static void test();

    // ---- Statics ------------------------------------------------------------
    static std::atomic<uint32_t> sStamp;
    static const VJSONValue sUndefined;
    static const VJSONValue sNull;
    static const VJSONValue sTrue;
    static const VJSONValue sFalse;
    static const VJSONValue sLastType;
    static const VString sUndefinedString;
    static const VString sNullString;
    static const VString sTrueString;
    static const VString sFalseString;
    static const VString sObjectString;

    // A fresh stamp: the process-wide counter after incrementing it. The two
    // counters are raised with a plain read, increment and write, not a
    // locked one: every value takes a stamp, and an import makes values by
    // the hundred thousand. Tasks that make values at the same moment may
    // get the same stamp; a stamp tells one value's changes apart, not
    // values of different tasks.
    static uint32_t NewStamp()
    {
        const uint32_t stamp = sStamp.load(std::memory_order_relaxed) + 1;
        sStamp.store(stamp, std::memory_order_relaxed);
        return stamp;
    }
    // A fresh string tag: the counter before incrementing it.
    static uint32_t NewStringTag()
    {
        const uint32_t tag = __VInlineString_tag.load(std::memory_order_relaxed);
        __VInlineString_tag.store(tag + 1, std::memory_order_relaxed);
        return tag;
    }

private:
    // Whether the payload holds a counted reference (a string's block, an
    // object or an array).
    bool _HoldsReference() const { return fType == JSON_string || fType == JSON_object || fType == JSON_array; }
    // Lets go of the payload without releasing it, after a move took it.
    void _ForgetPayload()
    {
        if (fType == JSON_string)
            fString.fRecord = VInlineString{0, nullptr, 0};
        else if (fType == JSON_object)
            fObject = nullptr;
        else if (fType == JSON_array)
            fArray = nullptr;
    }
    // Releases the payload; the type is left to the caller.
    void _ReleasePayload();
    // Releases the payload and takes a type without one (or a number's).
    void _SetScalarType(JSONType inType)
    {
        if (_HoldsReference())
            _ReleasePayload();
        fType = inType;
    }
    // Takes the source's type and payload as a copy does (stamp untouched).
    void _CopyPayloadFrom(const VJSONValue& inOther);
    // Takes the source's type and payload as a move does (stamp untouched).
    void _MovePayloadFrom(VJSONValue& ioOther);
    // Makes the value a string on the string's block.
    void _TakeString(const VString& inString);
    // The packed date of three numbers.
    static uint32_t _PackDate(int inYear, int inMonth, int inDay);
    static void _ChangeJSONStamp(const VJSONValue& inValue, VJSONStamp* inStamp,
                                 std::set<const void*>& ioVisited);

    struct StringPayload {
        VInlineString fRecord;
        uint32_t fTag;
    };

    JSONType fType;
    uint32_t fStamp;
    union {
        double fNumber;
        uint32_t fDate;
        StringPayload fString;
        VJSONObject* fObject;
        VJSONArray* fArray;
    };
};

}  // namespace qelt
