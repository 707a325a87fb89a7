#include "files/IFolder.h"

namespace qelt {

void IFolder::GetNameWithoutExtension(VString& outName) const
{
    GetPath().GetFolderName(outName, false);
}

bool IFolder::IsSameFolder(const IFolder* inOther) const
{
    if (inOther == nullptr)
        return false;
    VString mine;
    VString theirs;
    GetPath().GetPath(mine);
    inOther->GetPath().GetPath(theirs);
    return mine.EqualToStringRaw(theirs);
}

}  // namespace qelt
