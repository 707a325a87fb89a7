#include "files/VFileError.h"

#include "files/VFile.h"

namespace qelt {

VFileError::VFileError(const VFilePath& inPath, VError inError) : VErrorBase(inError), fPath(inPath)
{
    VString name, path;
    fPath.GetName(name);
    fPath.GetPath(path);
    GetBag()->SetAttribute("name", name);
    GetBag()->SetAttribute("path", path);
}

VFileError::VFileError(const VFile* inFile, VError inError)
    : VFileError(inFile != nullptr ? inFile->GetPath() : VFilePath(), inError)
{
}

VFileError::~VFileError() = default;

void VFileError::GetErrorDescription(VString& outText) const { VErrorBase::GetErrorDescription(outText); }

bool IsNativeErrorSignature(VError inError)
{
    OsType signature = VErrorComponent(inError);
    return signature == kSignaturePOSX || signature == kSignatureMACH || signature == kSignatureCARB ||
           signature == kSignatureCOCO;
}

}  // namespace qelt
