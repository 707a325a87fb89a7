// The platform side of a file object.
#pragma once

#include "kernel/VKernelTypes.h"
#include "kernel/VObject.h"

namespace qelt {

class VFileKind;
class VString;

class XMacFile : public VObject {
public:
    // --- type identifiers (the platform's public declarations) ---
    // A new public kind from the declaration of inID; null when none exists.
    static VFileKind* CreatePublicFileKind(const VString& inID);
    // The public kind whose declaration lists the extension; null when none.
    static VFileKind* CreatePublicFileKindFromExtension(const VString& inExtension);
    // This platform declares no kinds by four-character type code: null.
    static VFileKind* CreatePublicFileKindFromOsKind(const VString& inOsKind);
    // Whether a's identifier is b's or conforms to it by the declarations.
    static bool IsFileKindConformsTo(const VFileKind& a, const VFileKind& b);
};

}  // namespace qelt
