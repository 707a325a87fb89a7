// The multi-criteria sort: the shared index sort over the listed arrays.
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

    SortIndices(lo, hi, compare, swap);

    for (int k = 0; k < arrays; ++k)
        inList[k]->UnlockData();
    VMemory::DisposePtr(data);
}

}  // namespace qelt
