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

// The sorting routine itself, over 0-based indices lo..hi (both included):
// compare(i, j) orders element i against element j (negative, 0, positive;
// any other negative value counts as smaller) and swap(i, j) exchanges them.
// Ten elements or more go through an iterative quicksort (explicit stack of
// pending parts, the larger part pushed, so the depth stays below 32), fewer
// through a selection pass.
template <class Compare, class Swap>
void SortIndices(int lo, int hi, Compare compare, Swap swap)
{
    if (hi - lo < 1)
        return;
    if (hi - lo < 9) {
        for (int end = hi; end > lo; --end) {
            int best = lo;
            for (int c = lo + 1; c <= end; ++c) {
                if (compare(c, best) == CR_BIGGER)
                    best = c;
            }
            swap(best, end);
        }
        return;
    }
    int stackLo[32];
    int stackHi[32];
    int depth = 0;
    for (;;) {
        int m = lo + (hi - lo + 1) / 2;
        swap(m, lo);
        int i = lo;
        int j = hi + 1;
        for (;;) {
            do {
                ++i;
            } while (i <= hi && compare(i, lo) <= 0);
            do {
                --j;
            } while (j > lo && compare(j, lo) >= 0);
            if (j < i)
                break;
            swap(i, j);
        }
        swap(lo, j);

        // lo..j-1 and i..hi remain; j..i-1 equal the pivot and are final.
        int leftLo = lo, leftHi = j - 1;
        int rightLo = i, rightHi = hi;
        bool haveNext = false;
        if ((leftHi - leftLo) < (rightHi - rightLo)) {
            if (rightHi - rightLo >= 1) {
                stackLo[depth] = rightLo;
                stackHi[depth] = rightHi;
                ++depth;
            }
            if (leftHi - leftLo >= 1) {
                lo = leftLo;
                hi = leftHi;
                haveNext = true;
            }
        } else {
            if (leftHi - leftLo >= 1) {
                stackLo[depth] = leftLo;
                stackHi[depth] = leftHi;
                ++depth;
            }
            if (rightHi - rightLo >= 1) {
                lo = rightLo;
                hi = rightHi;
                haveNext = true;
            }
        }
        if (!haveNext) {
            if (depth == 0)
                return;
            --depth;
            lo = stackLo[depth];
            hi = stackHi[depth];
        }
    }
}

}  // namespace qelt
