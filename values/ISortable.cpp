// The multi-criteria sort: an iterative quicksort (explicit stack of pending
// parts, larger part pushed) for ten elements or more, a selection pass below.
#include "values/ISortable.h"

#include "kernel/VCppMemMgr.h"
#include "kernel/VMemory.h"

namespace qelt {

unsigned char* ISortable::LockAndGetData() const { return nullptr; }

void ISortable::UnlockData() const {}

CompareResult ISortable::MultiCriteriaCompare(ISortable** inList, unsigned char** inData, unsigned char* inDescending,
                                              int inKeyCount, int i, int j)
{
    for (int k = 0; k < inKeyCount; ++k) {
        CompareResult r = inList[k]->CompareElements(inData[k], i, j);
        if (r == CR_EQUAL)
            continue;
        if (inDescending[k] == 0)
            return r;
        // A descending key inverts the order; a result that cannot be
        // ordered counts as bigger.
        return r == CR_BIGGER ? CR_SMALLER : CR_BIGGER;
    }
    return CR_EQUAL;
}

void ISortable::MultiCriteriaSwap(ISortable** inList, unsigned char** inData, int i, int j)
{
    for (int k = 0; inList[k] != nullptr; ++k)
        inList[k]->SwapElements(inData[k], i, j);
}

void ISortable::MultiCriteriaQSort(ISortable** inList, unsigned char* inDescending, int inKeyCount, int lo, int hi)
{
    if (hi - lo < 1)
        return;

    int arrays = 0;
    while (inList[arrays] != nullptr)
        ++arrays;
    unsigned char** data =
        static_cast<unsigned char**>(VMemory::NewPtr(sizeof(unsigned char*) * static_cast<size_t>(arrays), kMemTag_Sort));
    if (data == nullptr)
        return;
    for (int k = 0; k < arrays; ++k)
        data[k] = inList[k]->LockAndGetData();

    auto compare = [&](int i, int j) { return MultiCriteriaCompare(inList, data, inDescending, inKeyCount, i, j); };
    auto swap = [&](int i, int j) { MultiCriteriaSwap(inList, data, i, j); };

    if (hi - lo >= 9) {
        // Pushing the larger part keeps the depth below log2(count) < 32.
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
                    break;
                --depth;
                lo = stackLo[depth];
                hi = stackHi[depth];
            }
        }
    } else {
        for (int end = hi; end > lo; --end) {
            int best = lo;
            for (int c = lo + 1; c <= end; ++c) {
                if (compare(c, best) == CR_BIGGER)
                    best = c;
            }
            swap(best, end);
        }
    }

    for (int k = 0; k < arrays; ++k)
        inList[k]->UnlockData();
    VMemory::DisposePtr(data);
}

}  // namespace qelt
