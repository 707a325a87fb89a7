// The interface through which one sorting routine orders one array, or
// several parallel arrays at once: an implementer hands out its element block
// and compares and exchanges two elements of it by 0-based index.
#pragma once

#include "kernel/VKernelTypes.h"

namespace qelt {

class ISortable {
public:
    virtual ~ISortable() = default;

    // The first byte of the element block (null by default).
    virtual unsigned char* LockAndGetData() const;
    // Ends the access begun by LockAndGetData (nothing by default).
    virtual void UnlockData() const;
    // Exchanges elements i and j of the block.
    virtual void SwapElements(unsigned char* inData, int i, int j) = 0;
    // Compares element i with element j of the block.
    virtual CompareResult CompareElements(unsigned char* inData, int i, int j) = 0;

    // Sorts indices lo..hi (0-based, both included) of every array of the
    // null-terminated list by its first inKeyCount arrays, the first the
    // most significant; every array of the list is permuted alike. One
    // descending flag byte per key.
    static void MultiCriteriaQSort(ISortable** inList, unsigned char* inDescending, int inKeyCount, int lo, int hi);

    // The key rule on blocks already handed out (the k-th data pointer is
    // that of the k-th array of the list).
    static CompareResult MultiCriteriaCompare(ISortable** inList, unsigned char** inData, unsigned char* inDescending,
                                              int inKeyCount, int i, int j);

    // Exchanges i and j on every array of the null-terminated list.
    static void MultiCriteriaSwap(ISortable** inList, unsigned char** inData, int i, int j);
};

}  // namespace qelt
