#include "kernel/VValueInfo.h"

namespace qelt {

VValueInfo::VValueInfo(unsigned short inKind) : fKind(inKind), fKey(inKind) { VValue::RegisterValueInfo(this); }

VValueInfo::VValueInfo(unsigned short inKind, unsigned short inKey) : fKind(inKind), fKey(inKey)
{
    VValue::RegisterValueInfo(this);
}

VValueInfo::~VValueInfo() { VValue::UnregisterValueInfo(this); }

CompareResult VValueInfo::CompareTwoPtrToData(const void*, const void*, bool) const { return CR_EQUAL; }

CompareResult VValueInfo::CompareTwoPtrToDataBegining(const void*, const void*, bool) const { return CR_EQUAL; }

CompareResult VValueInfo::CompareTwoPtrToData_Like(const void* inPtr1, const void* inPtr2, bool inDiacritical) const
{
    return CompareTwoPtrToData(inPtr1, inPtr2, inDiacritical);
}

CompareResult VValueInfo::CompareTwoPtrToDataBegining_Like(const void* inPtr1, const void* inPtr2,
                                                           bool inDiacritical) const
{
    return CompareTwoPtrToDataBegining(inPtr1, inPtr2, inDiacritical);
}

CompareResult VValueInfo::CompareTwoPtrToDataWithOptions(const void*, const void*, const VCompareOptions&) const
{
    return CR_EQUAL;
}

unsigned long VValueInfo::GetSizeOfValueDataPtr(const void*) const { return 0; }

unsigned long VValueInfo::GetAvgSpace() const { return 0; }

}  // namespace qelt
