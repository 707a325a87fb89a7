// The ordered list of child bags kept under one element name of a value bag.
// Positions count from 1; every entry holds one reference on its bag.
#pragma once

#include <vector>

#include "kernel/IRefCountable.h"
#include "kernel/VKernelTypes.h"
#include "kernel/VObject.h"

namespace qelt {

class VValueBag;
class VStream;
class VString;

class VBagArray : public VObject, public IRefCountable {
public:
    VBagArray();
    // A list of deep copies of the source's bags.
    VBagArray(const VBagArray& source);
    VBagArray& operator=(const VBagArray&) = delete;
    ~VBagArray() override;

    int GetCount() const { return static_cast<int>(fBags.size()); }

    // False for a null bag (or no memory); otherwise appends and retains it.
    bool AddTail(VValueBag* bag);
    // Inserts at the position (1 when n < 1, at most count + 1) and retains.
    bool AddNth(VValueBag* bag, int n);
    // Replaces the entry at n (retaining the new bag, releasing the old).
    void SetNth(VValueBag* bag, int n);
    // Releases and removes the entry at n.
    void DeleteNth(int n);
    // Removes the first entry holding the bag; its reference passes to the caller.
    void Delete(VValueBag* bag);
    // 1-based position of the first entry holding the bag, 0 when absent.
    int Find(VValueBag* bag) const;
    // The bag at n, retained; out of range a new empty bag. Always release it.
    VValueBag* RetainNth(int n);
    // Releases and removes every entry.
    void Destroy();

    VError WriteToStreamMinimal(VStream* stream) const;
    // Reads a count and as many bag bodies, appended after the current entries.
    VError ReadFromStreamMinimal(VStream* stream);

    VError _GetJSONString(VString& text, int& level, bool pretty, unsigned int options) const;

private:
    friend class VValueBag;
    // The bag at n, not retained; null out of range.
    VValueBag* _GetNth(int n) const { return (n >= 1 && n <= GetCount()) ? fBags[n - 1] : nullptr; }

    std::vector<VValueBag*> fBags;
};

}  // namespace qelt
