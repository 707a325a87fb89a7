#include "files/VResourceFile.h"

#include "kernel/VString.h"
#include "values/VArrayString.h"

namespace qelt {

bool VResourceFile::GetStringList(int inListID, VArrayString& ioList) const
{
    ioList.SetCount(0);
    VString text;
    for (int index = 1; GetStringFromList(text, inListID, index); ++index)
        ioList.AppendString(text);
    return true;
}

bool VResourceFile::GetStringList(const VString& inName, VArrayString& ioList) const
{
    int id = 0;
    if (GetResourceIDByName(VOsTypeString(FourCC("STR#")), inName, &id) != VE_OK)
        return false;
    return GetStringList(id, ioList);
}

void VResourceFile::DoOnRefCountZero()
{
    if (NeedsReleaseWork())
        DoReleaseWork();
    IRefCountable::DoOnRefCountZero();
}

}  // namespace qelt
