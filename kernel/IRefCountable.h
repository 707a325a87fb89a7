// Reference counting: the IRefCountable mix-in (an atomic count that starts
// at 1 and destroys the object at 0), the holder VRefPtr and the
// reference-counted byte block SharedBuffer.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <type_traits>
#include <utility>

namespace qelt {

// Base of reference-counted objects. A class that also derives from VObject
// lists VObject first. A new object, and also a copy, starts with a count
// of 1 owned by its creator; holders release, never delete, such objects.
class IRefCountable {
public:
    IRefCountable() noexcept : fRefCount(1) {}
    // A copy gets its own count of 1, never the source's.
    IRefCountable(const IRefCountable&) noexcept : fRefCount(1) {}
    // Assignment leaves the count alone: it counts holders of this object.
    IRefCountable& operator=(const IRefCountable&) noexcept { return *this; }
    virtual ~IRefCountable();

    // Adds 1 atomically and returns the new count. The label is ignored.
    virtual int32_t Retain(const char* inDebugInfo = nullptr) const;

    // Subtracts 1 atomically and returns the new count; at 0 calls
    // DoOnRefCountZero first (by default the object is then deleted).
    virtual int32_t Release(const char* inDebugInfo = nullptr) const;

    // Hook to drop references to other objects; does nothing by default.
    virtual void ReleaseDependencies();

    // Called by the Release that brings the count to 0; deletes the object.
    virtual void DoOnRefCountZero();

protected:
    mutable std::atomic<int32_t> fRefCount;

private:
    // The rare end of Release, kept out of its fast path.
    [[gnu::noinline, gnu::cold]] void _CountReachedZero() const;
};

// Releases obj when it is not null.
template <class T>
inline void ReleaseRefCountable(T* obj)
{
    if (obj != nullptr)
        obj->Release();
}

// Retains obj when it is not null and returns it.
template <class T>
inline T* RetainRefCountable(T* obj)
{
    if (obj != nullptr)
        obj->Retain();
    return obj;
}

// A holder of one reference to a reference-counted object (or null).
// Built from a pointer it always retains the object, whatever the pointer's
// value category; taking over a reference the caller already owns (a fresh
// `new T`, a `Retain...` result) is the explicit, named AdoptRef(p) or
// Adopt(p). A reader knows from the call site who releases. Copying retains,
// moving transfers, and destruction or reassignment releases.
template <class T>
class VRefPtr {
public:
    using element_type = T;

    VRefPtr() noexcept : fObject(nullptr) {}
    VRefPtr(std::nullptr_t) noexcept : fObject(nullptr) {}

    // Retains.
    template <class U, class = std::enable_if_t<std::is_convertible_v<U*, T*>>>
    VRefPtr(U* inObject) noexcept : fObject(inObject)
    {
        if (fObject != nullptr)
            fObject->Retain();
    }

    VRefPtr(const VRefPtr& other) noexcept : fObject(other.fObject)
    {
        if (fObject != nullptr)
            fObject->Retain();
    }

    template <class U, class = std::enable_if_t<std::is_convertible_v<U*, T*>>>
    VRefPtr(const VRefPtr<U>& other) noexcept : fObject(other.Get())
    {
        if (fObject != nullptr)
            fObject->Retain();
    }

    VRefPtr(VRefPtr&& other) noexcept : fObject(other.fObject) { other.fObject = nullptr; }

    template <class U, class = std::enable_if_t<std::is_convertible_v<U*, T*>>>
    VRefPtr(VRefPtr<U>&& other) noexcept : fObject(other.Forget())
    {
    }

    ~VRefPtr()
    {
        if (fObject != nullptr)
            fObject->Release();
    }

    VRefPtr& operator=(const VRefPtr& other) noexcept
    {
        Set(other.fObject);
        return *this;
    }

    VRefPtr& operator=(VRefPtr&& other) noexcept
    {
        if (this != &other)
            Adopt(other.Forget());
        return *this;
    }

    VRefPtr& operator=(std::nullptr_t) noexcept
    {
        Clear();
        return *this;
    }

    // Retains.
    template <class U, class = std::enable_if_t<std::is_convertible_v<U*, T*>>>
    VRefPtr& operator=(U* inObject) noexcept
    {
        Set(inObject);
        return *this;
    }

    // Holds inObject, retained; the previous object is released afterwards.
    void Set(T* inObject) noexcept
    {
        if (inObject != nullptr)
            inObject->Retain();
        T* old = fObject;
        fObject = inObject;
        if (old != nullptr)
            old->Release();
    }

    // Holds inObject, taking over the caller's reference. Adopting the
    // object already held releases the reference this holder had, so that
    // it keeps exactly one.
    void Adopt(T* inObject) noexcept
    {
        T* old = fObject;
        fObject = inObject;
        if (old != nullptr)
            old->Release();
    }

    // Releases the object and holds null.
    void Clear() noexcept
    {
        T* old = fObject;
        fObject = nullptr;
        if (old != nullptr)
            old->Release();
    }

    // Hands the reference to the caller and holds null.
    [[nodiscard]] T* Forget() noexcept
    {
        T* object = fObject;
        fObject = nullptr;
        return object;
    }

    // A new reference for the caller to release (null when empty).
    [[nodiscard]] T* Retain() const noexcept
    {
        if (fObject != nullptr)
            fObject->Retain();
        return fObject;
    }

    T* Get() const noexcept { return fObject; }
    T* operator->() const noexcept { return fObject; }
    T& operator*() const noexcept { return *fObject; }
    explicit operator bool() const noexcept { return fObject != nullptr; }
    bool IsNull() const noexcept { return fObject == nullptr; }

    friend bool operator==(const VRefPtr& a, const VRefPtr& b) noexcept { return a.fObject == b.fObject; }
    friend bool operator==(const VRefPtr& a, const T* b) noexcept { return a.fObject == b; }
    friend bool operator==(const VRefPtr& a, std::nullptr_t) noexcept { return a.fObject == nullptr; }
    friend bool operator<(const VRefPtr& a, const VRefPtr& b) noexcept { return a.fObject < b.fObject; }

    void swap(VRefPtr& other) noexcept { std::swap(fObject, other.fObject); }

private:
    // Takes over the reference: the one door to it is AdoptRef.
    struct AdoptTag {};
    VRefPtr(T* inObject, AdoptTag) noexcept : fObject(inObject) {}
    template <class U>
    friend VRefPtr<U> AdoptRef(U* inObject) noexcept;

    T* fObject;
};

// Takes over the reference the caller owns: VRefPtr<T> p = AdoptRef(new T).
template <class T>
[[nodiscard]] VRefPtr<T> AdoptRef(T* inObject) noexcept
{
    return VRefPtr<T>(inObject, typename VRefPtr<T>::AdoptTag());
}

// A reference-counted block of raw bytes from the C library's allocator
// (not the memory manager): a 64-bit byte count, a 32-bit atomic reference
// count and the bytes right behind them. The block is freed when a release
// brings the count to zero.
class SharedBuffer {
public:
    // A block for size bytes (uninitialised), count 1; null when the C
    // allocator fails or the size cannot be represented.
    static SharedBuffer* Create(size_t inSize);

    // The same, then copies the bytes.
    static SharedBuffer* Create(const void* inData, size_t inSize);

    void Retain() const { fRefCount.fetch_add(1, std::memory_order_seq_cst); }

    // Frees the block when the count was 1.
    void Release() const;

    size_t GetSize() const { return static_cast<size_t>(fSize); }
    void* GetData() { return reinterpret_cast<char*>(this) + kDataOffset; }
    const void* GetData() const { return reinterpret_cast<const char*>(this) + kDataOffset; }

    // Byte offset of the data from the block's start: right behind the counts.
    static constexpr size_t kDataOffset = sizeof(uint64_t) + sizeof(uint32_t);

    SharedBuffer() = delete;
    SharedBuffer(const SharedBuffer&) = delete;
    SharedBuffer& operator=(const SharedBuffer&) = delete;

private:
    uint64_t fSize;
    mutable std::atomic<uint32_t> fRefCount;
};

}  // namespace qelt
