// The base of the typed value arrays: a count of elements of one kind in one
// contiguous block, addressed by 1-based positions, sortable through
// ISortable. It carries every operation that works on raw element bytes; the
// concrete arrays add the element type.
#pragma once

#include "kernel/VValue.h"
#include "values/ISortable.h"

namespace qelt {

class VStream;

// The test of an array search, element against value.
enum CompareMethod : int {
    CM_GREATER_OR_EQUAL = -2,
    CM_GREATER = -1,
    CM_EQUAL = 0,
    CM_LESS = 1,
    CM_LESS_OR_EQUAL = 2
};

// Sorts n elements in place: a selection pass below ten elements, above an
// iterative quicksort (middle pivot, larger part stacked) with direct
// comparisons; descending mirrors the tests.
template <class T>
void QSort(T* ioElems, int inCount, bool inDescending);

class VArrayValue : public VValueMultiple, public ISortable {
public:
    ~VArrayValue() override;

    VArrayValue(const VArrayValue&) = delete;
    VArrayValue& operator=(const VArrayValue&) = delete;

    // Arrays have no raw form: nothing is read or written.
    void Clear() override;
    const void* LoadFromPtr(const void* inData, bool inRefresh = false) override;
    void* WriteToPtr(void* inData, bool inRefresh = false, unsigned long inMax = 0) const override;
    int GetCount() const override;

    int GetDataSize() const { return fDataSize; }
    bool ValidIndex(int inPosition) const { return inPosition >= 1 && inPosition <= fCount; }
    // Resizes the block to exactly that many bytes (zero-filled growth)
    // without touching the count.
    bool SetDataSize(int inBytes);

    virtual unsigned short GetElemValueKind() const = 0;
    // Sets the number of elements; new ones are zero, dropped ones release
    // what they own first. False, with the array unchanged, when the block
    // cannot be had.
    virtual bool SetCount(int inCount);
    // Opens inNumber zeroed elements in front of the position (count + 1
    // appends); false, array unchanged, for a bad range or without memory.
    virtual bool Insert(int inPosition, int inNumber);
    // Removes inNumber elements from the position on; a range outside the
    // array is ignored.
    virtual void Delete(int inPosition, int inNumber);
    virtual int Find(const VValueSingle& inValue, int inStart, unsigned char inForward, CompareMethod inMethod) = 0;
    // Sorts positions from..to (1-based, both included); a bad range is ignored.
    virtual void Sort(int inFrom, int inTo, bool inDescending = false);
    // Rearranges the elements in a fixed scrambled order.
    virtual void Unsort();
    virtual void FromValue(const VValueSingle& inValue, int inPosition) = 0;
    virtual void GetValue(VValueSingle& outValue, int inPosition) const = 0;
    virtual VValueSingle* CloneValue(int inPosition) const = 0;
    // Makes this array a copy of the source (of the same class).
    virtual bool Copy(const VArrayValue& inSource);
    unsigned char* LockAndGetData() const override;
    void UnlockData() const override;
    // Block-level operations on 0-based indices.
    virtual void MoveElements(int inFrom, int inTo, int inNumber);
    virtual void DeleteElements(int inFrom, int inNumber);
    virtual void InitElements(int inFrom, int inNumber);

    void Destroy() { SetCount(0); }

    // Sorts every array of the null-terminated list (at most 15) by the
    // order of the first; the rows stay aligned. Nothing happens when an
    // array holds fewer elements than the first.
    static void SynchronizedSort(bool inDescending, VArrayValue* inFirst, ...);

    // Add one element at the end through the setter of the value's type and
    // answer the count afterwards.
    int AppendBoolean(bool inValue);
    int AppendByte(signed char inValue);
    int AppendWord(short inValue);
    int AppendLong(int inValue);
    int AppendLong8(long long inValue);
    int AppendReal(double inValue);
    int AppendDuration(const VDuration& inValue);
    int AppendTime(const VTime& inValue);
    int AppendString(const VString& inValue);

protected:
    explicit VArrayValue(int inElemSize);

    // Bytes of the block for a count (count x element size by default).
    virtual long long _BlockSizeFor(int inCount) const;
    // Allocates a zeroed block for inCount elements at construction; the
    // array stays empty when it cannot.
    void _InitCount(int inCount);

    // The stream frame: optional kind word (param 'VVAL'), then the count.
    VError _WriteHeader(VStream* ioStream, int inParam) const;
    // Reads the count. A count that is negative or needs more than the
    // bytes the stream still holds (inMinBytes for that count, computed by
    // the caller through inBytesPerElement) raises and returns 'qelt' 200;
    // a count that cannot be allocated raises and returns 'qelt' 100. On
    // success the array holds that many zero elements.
    VError _ReadHeaderAndResize(VStream* ioStream, long long inBytesPerElement, int& outCount);
    // The same check for a byte count worked out by the caller.
    static VError _CheckAvailable(VStream* ioStream, int inCount, long long inBytesNeeded);
    bool _ResizeForRead(int inCount, VError& outError);

    // The typed search of the scalar arrays over a raw block.
    template <class T>
    static int _FindInBlock(const T* inElems, int inCount, T inValue, int inStart, unsigned char inForward,
                            CompareMethod inMethod)
    {
        if (inElems == nullptr || inCount <= 0 || inStart < 1 || inStart > inCount)
            return -1;
        if (inMethod < CM_GREATER_OR_EQUAL || inMethod > CM_LESS_OR_EQUAL)
            return inStart;
        int step = inForward != 0 ? 1 : -1;
        for (int p = inStart; p >= 1 && p <= inCount; p += step) {
            const T& e = inElems[p - 1];
            bool pass = false;
            switch (inMethod) {
                case CM_GREATER_OR_EQUAL: pass = e >= inValue; break;
                case CM_GREATER: pass = e > inValue; break;
                case CM_EQUAL: pass = e == inValue; break;
                case CM_LESS: pass = e < inValue; break;
                case CM_LESS_OR_EQUAL: pass = e <= inValue; break;
            }
            if (pass)
                return p;
        }
        return -1;
    }

    // Search by halving of an ascending block: 1-based position or -1.
    template <class T>
    static int _QuickFindInBlock(const T* inElems, int inCount, T inValue)
    {
        if (inElems == nullptr)
            return -1;
        int lo = 0;
        int hi = inCount - 1;
        while (lo <= hi) {
            int mid = lo + (hi - lo) / 2;
            if (inElems[mid] == inValue)
                return mid + 1;
            if (inElems[mid] < inValue)
                lo = mid + 1;
            else
                hi = mid - 1;
        }
        return -1;
    }

    template <class T>
    static CompareResult _CompareScalars(T a, T b)
    {
        if (a < b)
            return CR_SMALLER;
        if (b < a)
            return CR_BIGGER;
        return CR_EQUAL;
    }

    int fElemSize;
    int fCount = 0;
    unsigned char* fData = nullptr;
    int fDataSize = 0;
};

// ---------------------------------------------------------------------------

template <class T>
void QSort(T* ioElems, int inCount, bool inDescending)
{
    if (ioElems == nullptr || inCount < 2)
        return;
    // "a before b" in the sort's order: greater first when descending.
    auto less = [inDescending](const T& a, const T& b) { return inDescending ? b < a : a < b; };
    auto compare = [ioElems, &less](int i, int j) {
        return less(ioElems[i], ioElems[j]) ? CR_SMALLER : (less(ioElems[j], ioElems[i]) ? CR_BIGGER : CR_EQUAL);
    };
    auto swap = [ioElems](int i, int j) {
        T t = ioElems[i];
        ioElems[i] = ioElems[j];
        ioElems[j] = t;
    };
    SortIndices(0, inCount - 1, compare, swap);
}

}  // namespace qelt
