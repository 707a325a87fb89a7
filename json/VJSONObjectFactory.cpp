#include "json/VJSONObjectFactory.h"

#include "json/IJSONObject.h"
#include "json/VJSONBlob.h"
#include "json/VJSONObject.h"

namespace qelt {

VJSONObjectFactory::VJSONObjectFactory()
{
    fFunctions[FourCC("JBlb")] = &VJSONBlob::CreateIJSONObject;
}

VJSONObjectFactory::~VJSONObjectFactory() = default;

VJSONObjectFactory* VJSONObjectFactory::Get()
{
    static VJSONObjectFactory sFactory;
    return &sFactory;
}

void VJSONObjectFactory::RegisterSignature(OsType inSignature, JSONObjectCreatorPtr inFunction)
{
    StLocker lock(fLock);
    fFunctions[inSignature] = inFunction;
}

void VJSONObjectFactory::UnRegisterSignature(OsType inSignature)
{
    StLocker lock(fLock);
    fFunctions.erase(inSignature);
}

bool VJSONObjectFactory::IsSignatureSupported(OsType inSignature) const
{
    StLocker lock(fLock);
    return fFunctions.find(inSignature) != fFunctions.end();
}

IJSONObject* VJSONObjectFactory::CreateForSignature(VJSONObject* inObject, OsType inSignature, const void* inData,
                                                    size_t inSize, VRefPtr<VJSONObject>& ioClassObject,
                                                    uint64_t* outError) const
{
    JSONObjectCreatorPtr function = nullptr;
    {
        StLocker lock(fLock);
        auto found = fFunctions.find(inSignature);
        if (found != fFunctions.end())
            function = found->second;
    }
    // The function runs outside the lock: it may build classes and objects
    // that take locks of their own.
    if (function == nullptr)
        return nullptr;
    return function(inObject, inSignature, inData, inSize, ioClassObject, outError);
}

}  // namespace qelt
