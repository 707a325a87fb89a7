// Small growable arrays of plain values (numbers, pointers, function
// pointers) with positions counted from 1, and an iterator over them.
//
// The elements live in one block of the memory manager (tag 'arr '), grown by
// a fixed step when full. A unique array refuses a value it already holds; a
// disposing array hands every removed element to DoDeleteDataRange first. A
// foreign block (given by the caller) is never freed by the array; the array
// takes a block of its own the first time it must grow.
// VArrayRetainedPtrOf holds pointers to reference-counted objects and
// releases them when it disposes of them.
#pragma once

#include <climits>
#include <cstdint>
#include <cstring>
#include <type_traits>

#include "kernel/VKernelTypes.h"
#include "kernel/VMemory.h"
#include "kernel/VObject.h"
#include "runtime/VErrorBase.h"

namespace qelt {

template <class T>
class VArrayOf : public VObject {
    static_assert(std::is_trivially_copyable_v<T>, "VArrayOf holds plain values");

public:
    static constexpr int kTag = static_cast<int>(FourCC("arr "));

    explicit VArrayOf(int32_t inGrowthStep = 10, bool inUnique = false, bool inDispose = false)
        : fGrowthStep(inGrowthStep > 0 ? inGrowthStep : 1), fUnique(inUnique), fDispose(inDispose)
    {
    }
    // Over the caller's block of inCapacity elements, the first inCount in use;
    // the block stays the caller's.
    VArrayOf(T* inForeignBlock, int32_t inCount, int32_t inCapacity, int32_t inGrowthStep = 10)
        : fBlock(inForeignBlock),
          fCount(inCount),
          fCapacity(inCapacity),
          fGrowthStep(inGrowthStep > 0 ? inGrowthStep : 1),
          fForeignBlock(true)
    {
    }
    VArrayOf(const VArrayOf&) = delete;
    VArrayOf& operator=(const VArrayOf&) = delete;

    // The elements are not disposed of.
    ~VArrayOf() override { _FreeBlock(); }

    int32_t GetCount() const { return fCount; }
    int32_t GetCapacity() const { return fCapacity; }
    bool IsEmpty() const { return fCount == 0; }
    T* First() const { return fBlock; }

    // The element at 1-based inPos; a value-initialised T outside the array.
    T GetNth(int32_t inPos) const { return (inPos >= 1 && inPos <= fCount) ? fBlock[inPos - 1] : T(); }
    T operator[](int32_t inPos) const { return GetNth(inPos); }

    // The 1-based position of the first element equal to the value, 0 when none.
    int32_t FindPos(T inValue) const
    {
        if (fCount == 0)
            return 0;
        T* found = DoFindData(fBlock, fBlock + fCount, inValue);
        return found == fBlock + fCount ? 0 : static_cast<int32_t>(found - fBlock) + 1;
    }

    // Inserts the value so that it stands at inPos (clamped to 1 .. count+1).
    // False when a unique array holds the value already, or when memory runs
    // out ('qelt' 100 raised); the array is then unchanged.
    bool AddNth(T inValue, int32_t inPos)
    {
        if (fUnique && FindPos(inValue) != 0)
            return false;
        if (fCount >= fCapacity && !_Grow())
            return false;
        int32_t at = inPos < 1 ? 1 : (inPos > fCount + 1 ? fCount + 1 : inPos);
        std::memmove(fBlock + at, fBlock + at - 1, sizeof(T) * static_cast<size_t>(fCount - (at - 1)));
        fBlock[at - 1] = inValue;
        ++fCount;
        return true;
    }
    bool Append(T inValue) { return AddNth(inValue, fCount + 1); }

    // Removes the element at inPos (disposed of first when the array
    // disposes); other positions change nothing. The block stays.
    void DeleteNth(int32_t inPos)
    {
        if (inPos < 1 || inPos > fCount)
            return;
        if (fDispose)
            DoDeleteDataRange(fBlock + inPos - 1, fBlock + inPos);
        std::memmove(fBlock + inPos - 1, fBlock + inPos, sizeof(T) * static_cast<size_t>(fCount - inPos));
        --fCount;
    }

protected:
    // The first element between the two pointers whose bits equal the value's.
    virtual T* DoFindData(T* inFirst, T* inEnd, T inValue) const
    {
        for (T* p = inFirst; p < inEnd; ++p)
            if (std::memcmp(p, &inValue, sizeof(T)) == 0)
                return p;
        return inEnd;
    }
    // Disposes of the elements between the two pointers; nothing here.
    virtual void DoDeleteDataRange(T*, T*) {}

    bool IsDisposing() const { return fDispose; }
    void _FreeBlock()
    {
        if (!fForeignBlock)
            VMemory::DisposePtr(fBlock);
        fBlock = nullptr;
    }

private:
    bool _Grow()
    {
        T* block = nullptr;
        int32_t capacity = 0;
        if (fCount <= INT32_MAX - fGrowthStep) {
            capacity = fCount + fGrowthStep;
            block = static_cast<T*>(VMemory::NewPtr(sizeof(T) * static_cast<size_t>(capacity), kTag));
        }
        if (block == nullptr && fCount < INT32_MAX) {
            capacity = fCount + 1;
            block = static_cast<T*>(VMemory::NewPtr(sizeof(T) * static_cast<size_t>(capacity), kTag));
        }
        if (block == nullptr) {
            _ThrowError(QeltError(100));
            return false;
        }
        if (fCount > 0)
            std::memcpy(block, fBlock, sizeof(T) * static_cast<size_t>(fCount));
        _FreeBlock();
        fBlock = block;
        fForeignBlock = false;
        fCapacity = capacity;
        return true;
    }

    T* fBlock = nullptr;
    int32_t fCount = 0;
    int32_t fCapacity = 0;
    int32_t fGrowthStep;
    bool fUnique = false;
    bool fDispose = false;
    bool fForeignBlock = false;
};

// Pointers to reference-counted objects, released when disposed of.
template <class T>
class VArrayRetainedPtrOf : public VArrayOf<T> {
public:
    explicit VArrayRetainedPtrOf(int32_t inGrowthStep = 10, bool inUnique = false, bool inDispose = true)
        : VArrayOf<T>(inGrowthStep, inUnique, inDispose)
    {
    }
    ~VArrayRetainedPtrOf() override
    {
        if (this->IsDisposing())
            _Release(this->First(), this->First() + this->GetCount());
    }

protected:
    void DoDeleteDataRange(T* inFirst, T* inEnd) override { _Release(inFirst, inEnd); }

private:
    static void _Release(T* inFirst, T* inEnd)
    {
        for (T* p = inFirst; p < inEnd; ++p)
            if (*p != nullptr)
                (*p)->Release();
    }
};

// Walks a sequence forwards or backwards.
template <class T>
class VIteratorOf : public VObject {
public:
    virtual T Next() = 0;
    virtual T Previous() = 0;
    virtual T Current() = 0;
    virtual T First() = 0;
    virtual T Last() = 0;
    virtual int32_t SetPos(int32_t inPos) = 0;
    virtual int32_t GetPos() const = 0;
};

// Position -1: not started; 0: off either end; 1 to count: the current element.
template <class T>
class VArrayIteratorOf : public VIteratorOf<T> {
public:
    explicit VArrayIteratorOf(const VArrayOf<T>* inArray) : fArray(inArray) {}

    T First() override
    {
        if (fArray == nullptr)
            return T();
        fPos = 1;
        return fArray->GetNth(1);
    }
    T Last() override
    {
        if (fArray == nullptr)
            return T();
        fPos = fArray->GetCount();
        return fArray->GetNth(fPos);
    }
    T Next() override
    {
        if (fArray == nullptr)
            return T();
        if (fPos == -1)
            return First();
        if (fPos >= 0 && fPos < fArray->GetCount())
            return fArray->GetNth(++fPos);
        fPos = 0;
        return T();
    }
    T Previous() override
    {
        if (fArray == nullptr)
            return T();
        if (fPos == -1)
            return Last();
        if (fPos <= 1) {
            fPos = 0;
            return T();
        }
        return fArray->GetNth(--fPos);
    }
    T Current() override
    {
        if (fArray == nullptr)
            return T();
        if (fPos == -1)
            return First();
        return fArray->GetNth(fPos);
    }
    int32_t SetPos(int32_t inPos) override
    {
        if (inPos == -1)
            fPos = -1;
        else if (inPos < 0 || fArray == nullptr || inPos > fArray->GetCount())
            fPos = 0;
        else
            fPos = inPos;
        return fPos;
    }
    int32_t GetPos() const override { return fPos; }

private:
    const VArrayOf<T>* fArray;
    int32_t fPos = -1;
};

}  // namespace qelt
