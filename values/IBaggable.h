// The interface of objects that save themselves into a value bag and load
// themselves from one.
#pragma once

#include "kernel/VKernelTypes.h"

namespace qelt {

class VValueBag;
class VBagLoader;
class VString;

class IBaggable {
public:
    virtual ~IBaggable() = default;

    // Default: LoadFromBag(bag); the loader and the context are not used.
    virtual VError LoadFromBagWithLoader(const VValueBag& bag, VBagLoader* loader, void* context = nullptr)
    {
        (void)loader;
        (void)context;
        return LoadFromBag(bag);
    }
    // Default: loads nothing.
    virtual VError LoadFromBag(const VValueBag& bag)
    {
        (void)bag;
        return VE_OK;
    }
    // Writes the object into the bag and names the element under which the
    // bag is to be filed.
    virtual VError SaveToBag(VValueBag& bag, VString& kindName) const = 0;
};

}  // namespace qelt
