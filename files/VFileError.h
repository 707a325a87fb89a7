// The error of a file, folder or descriptor operation: a toolbox error that
// also carries the path concerned and shows its "name" and "path" as message
// parameters. WrapFileError is the one procedure by which every such
// operation turns a native failure of the layer below into a file error.
#pragma once

#include <utility>

#include "files/VFilePath.h"
#include "runtime/VErrorBase.h"
#include "values/VValueBag.h"

namespace qelt {

class VFile;

class VFileError : public VErrorBase {
public:
    // "name" (the last element) and "path" (the own form) are set from the
    // path. The folder object builds its errors from its path the same way.
    VFileError(const VFilePath& inPath, VError inError);
    VFileError(const VFile* inFile, VError inError);
    ~VFileError() override;

    void GetErrorDescription(VString& outText) const override;

    const VFilePath& GetPath() const { return fPath; }

private:
    VFilePath fPath;
};

// True for the signatures of native codes: 'POSX', 'MACH', 'CARB', 'COCO'.
bool IsNativeErrorSignature(VError inError);

// The native error wrap. A result whose number is 0, or that is not a native
// code, is returned as it is and nothing is raised. Otherwise a file error on
// the path with EncodedNativeErrorToVError(result, fallback) is built,
// addParameters(bag) adds the operation's own parameters, the native error
// and the file error are pushed (the native one left out when the context
// filters the file error's code) and the file error's code is returned.
template <class AddParameters>
VError WrapFileError(const VFilePath& inPath, VError inResult, VError inFallback, AddParameters&& addParameters)
{
    if (VErrorNumber(inResult) == 0 || !IsNativeErrorSignature(inResult))
        return inResult;
    VFileError* error = new VFileError(inPath, VErrorBase::EncodedNativeErrorToVError(inResult, inFallback));
    std::forward<AddParameters>(addParameters)(*error->GetBag());
    VError code = error->GetError();
    _PushRetainedError(error, inResult);
    return code;
}

inline VError WrapFileError(const VFilePath& inPath, VError inResult, VError inFallback)
{
    return WrapFileError(inPath, inResult, inFallback, [](VValueBag&) {});
}

// An operation that refuses a path itself raises its own code in the native
// code's place: a plain error with that code, then the file error.
template <class AddParameters>
VError ThrowFileRefusal(const VFilePath& inPath, VError inCode, AddParameters&& addParameters)
{
    VFileError* error = new VFileError(inPath, inCode);
    std::forward<AddParameters>(addParameters)(*error->GetBag());
    _PushRetainedError(error, inCode);
    return inCode;
}

}  // namespace qelt
