#include "process/VBootLogListener.h"

#include "values/VValueBag.h"

namespace qelt {

VBootLogListener::~VBootLogListener()
{
    for (const VValueBag* record : fRecords)
        record->Release();
}

void VBootLogListener::Put(const std::vector<const VValueBag*>& inRecords)
{
    StLocker locker(fLock);
    for (const VValueBag* record : inRecords) {
        record->Retain();
        fRecords.push_back(record);
    }
}

std::vector<const VValueBag*> VBootLogListener::RetainRecords() const
{
    StLocker locker(fLock);
    for (const VValueBag* record : fRecords)
        record->Retain();
    return fRecords;
}

}  // namespace qelt
