// The binary JSON writer: appends the compact byte form of a JSON value to a
// growable buffer. Unlike JSON text the byte form keeps shared and circular
// references, dates, the class of an object and the bytes of objects whose
// implementation writes its own payload.
//
// Layout (numbers and UTF-16 units in the machine's byte order, which is
// little-endian here): one type byte per value, then
//   0 null, 1 false, 2 true, 7 undefined: nothing
//   3 string: u32 unit count, the units
//   4 number: the 8-byte double
//   5 object: members (u16 name length up to 0x7FFF, the name's units, the
//     value), then u16 0xFFFF, or u16 0xFFFD, u32 signature, u64 size and
//     the payload ('****': u16 + units of the class's component name, u16 +
//     units of the class name; else what the implementation wrote)
//   6 array: u32 element count, the elements (0xFFFFFFFE: undefined)
//   8 date: i64 milliseconds of its midnight UTC
//   255 a container written before: u32 unit count and the units of the
//     JSON Pointer, in URI-fragment form ("#/a~1b/1"), of its first place.
#pragma once

#include <cstdint>
#include <map>
#include <utility>
#include <vector>

#include "json/VJSONValue.h"
#include "kernel/VObject.h"
#include "kernel/VString.h"
#include "values/VMemoryBuffer.h"

namespace qelt {

class VJSONObject;
class VJSONArray;

// Type bytes of the byte form.
enum : uint8_t {
    kJSONBinaryNull = 0,
    kJSONBinaryFalse = 1,
    kJSONBinaryTrue = 2,
    kJSONBinaryString = 3,
    kJSONBinaryNumber = 4,
    kJSONBinaryObject = 5,
    kJSONBinaryArray = 6,
    kJSONBinaryUndefined = 7,
    kJSONBinaryDate = 8,
    kJSONBinaryReference = 255
};

// Markers where an object member's name length is expected.
enum : uint16_t {
    kJSONBinaryEndOfObject = 0xFFFF,
    kJSONBinaryUndefinedObject = 0xFFFE,  // after a type byte 5: the value is undefined
    kJSONBinaryClassRecord = 0xFFFD,
    kJSONBinaryMaxNameLength = 0x7FFF
};

// The element count of an array that stands for undefined.
constexpr uint32_t kJSONBinaryUndefinedArray = 0xFFFFFFFE;
// The signature of a class record (an object of a named class).
constexpr OsType kJSONBinaryClassSignature = FourCC("****");
// Containers nest at most this deep in the byte form; deeper ones fail with
// 'qelt' 108 in the writer and in the importer.
constexpr int kJSONBinaryMaxDepth = 512;
// Below this much free stack an object or array is not begun ('qelt' 108).
constexpr size_t kJSONBinaryMinFreeStack = 10240;

using VJSONBinaryBuffer = VMemoryBuffer<1024, 2, 1048576>;

// Raises the 'qelt' error of that number and returns it.
VError ThrowJSONBinaryError(int inNumber);
// Before a container is begun at the depth (the number of containers
// around it): 108, raised, when that is too deep or the task is short of
// stack; else 0.
VError CheckJSONBinaryNesting(int inDepth);

class VJSONBinaryWriter : public VObject {
public:
    // One step of the path from the top-level value to the value being
    // written: a member name, or an element index when the name is null.
    struct PathPart {
        const PathPart* fParent;
        const VString* fName;
        uint64_t fIndex;
    };

    // No bit of the options changes the bytes written.
    explicit VJSONBinaryWriter(uint32_t inOptions = 0);
    ~VJSONBinaryWriter() override;

    VJSONBinaryWriter(const VJSONBinaryWriter&) = delete;
    VJSONBinaryWriter& operator=(const VJSONBinaryWriter&) = delete;

    // Each appends one top-level value. Containers written by earlier calls
    // on this writer are written as references to their first place. On
    // failure the buffer is cut back to its size before the call: 'qelt' 108
    // (nesting or stack), 107 (a name of more than 0x7FFF units), 100 (the
    // buffer cannot grow), or the error of an implementation's payload.
    VError StreamValue(const VJSONValue& inValue, VJSONBinaryBuffer& ioBuffer);
    VError StreamObject(const VJSONObject* inObject, VJSONBinaryBuffer& ioBuffer);
    VError StreamArray(const VJSONArray* inArray, VJSONBinaryBuffer& ioBuffer);

    // The URI-fragment JSON Pointer of a step: "#", then per step "/" and
    // the name ("~" written "~0", then "/" written "~1") or the index.
    static void BuildPathPointerString(const PathPart* inStep, VString& outPath);

    uint32_t GetOptions() const { return fOptions; }

private:
    template <class Write>
    VError _Stream(Write&& inWrite, VJSONBinaryBuffer& ioBuffer);
    VError _StreamValue(const VJSONValue& inValue, VJSONBinaryBuffer& ioBuffer, const PathPart& inStep);
    VError _StreamObject(const VJSONObject* inObject, VJSONBinaryBuffer& ioBuffer, const PathPart& inStep);
    VError _StreamArray(const VJSONArray* inArray, VJSONBinaryBuffer& ioBuffer, const PathPart& inStep);
    // True when the container was written before (a reference is then
    // appended); otherwise records the container at this step's path.
    bool _StreamReference(const VJSONValue& inContainer, VJSONBinaryBuffer& ioBuffer, const PathPart& inStep,
                          VError& outError);
    // The terminator of an object: 0xFFFF, a class record or the payload
    // of its implementation.
    VError _StreamObjectEnd(const VJSONObject* inObject, uint32_t inSignature, VJSONBinaryBuffer& ioBuffer);
    // Held while a container is written: 108 when too deep or short of
    // stack, else one level more for the container's lifetime.
    class StLevel {
    public:
        explicit StLevel(int& ioDepth) : fDepth(ioDepth), fError(CheckJSONBinaryNesting(ioDepth))
        {
            if (fError == VE_OK)
                ++fDepth;
        }
        ~StLevel()
        {
            if (fError == VE_OK)
                --fDepth;
        }
        StLevel(const StLevel&) = delete;
        StLevel& operator=(const StLevel&) = delete;
        VError GetError() const { return fError; }

    private:
        int& fDepth;
        VError fError;
    };

    VError _Put(VJSONBinaryBuffer& ioBuffer, const void* inBytes, size_t inCount);
    VError _PutByte(VJSONBinaryBuffer& ioBuffer, uint8_t inByte) { return _Put(ioBuffer, &inByte, 1); }
    VError _PutU16(VJSONBinaryBuffer& ioBuffer, uint16_t inValue) { return _Put(ioBuffer, &inValue, 2); }
    VError _PutU32(VJSONBinaryBuffer& ioBuffer, uint32_t inValue) { return _Put(ioBuffer, &inValue, 4); }
    VError _PutU64(VJSONBinaryBuffer& ioBuffer, uint64_t inValue) { return _Put(ioBuffer, &inValue, 8); }
    // A u16 length then the units; 107 beyond 0x7FFF units.
    VError _PutName(VJSONBinaryBuffer& ioBuffer, const VString& inName);
    // A u32 length then the units.
    VError _PutText(VJSONBinaryBuffer& ioBuffer, const VString& inText);

    uint32_t fOptions;
    int fDepth = 0;
    // Each container written, with the path of its first place. The value
    // keeps the container alive, so that its address cannot be taken by
    // another container while this writer may still refer to it.
    std::map<const void*, std::pair<VString, VJSONValue>> fWritten;
    // The containers recorded by the value being written.
    std::vector<const void*> fAdded;
};

}  // namespace qelt
