// The abstract base of files of typed, numbered resources. It reads string
// lists (resources of type "STR#") by number or by name on top of two lookups
// that a concrete class supplies, and runs a class's release work before the
// object goes away.
#pragma once

#include "kernel/IRefCountable.h"
#include "kernel/VKernelTypes.h"
#include "kernel/VObject.h"

namespace qelt {

class VString;
class VArrayString;

class VResourceFile : public VObject, public IRefCountable {
public:
    VResourceFile() = default;
    ~VResourceFile() override = default;

    // Start-up and shut-down hooks of the process object.
    static bool Init() { return true; }
    static void DeInit() {}

    // Kept for callers that convert length-prefixed names; does nothing.
    static void MakeString(VString&, unsigned char*) {}

    // The work done before destruction when NeedsReleaseWork says so.
    virtual void DoReleaseWork() = 0;
    // The number of the resource of this type and name.
    virtual VError GetResourceIDByName(const VString& inType, const VString& inName, int* outID) const = 0;
    // The string at inIndex (from 1) of string list inListID; false when none.
    virtual bool GetStringFromList(VString& outString, int inListID, int inIndex) const = 0;

    // Empties ioList, then appends the strings of the list from index 1 up
    // to the first missing one. Always true.
    virtual bool GetStringList(int inListID, VArrayString& ioList) const;
    // The list of that name: false, list untouched, when no such list exists.
    virtual bool GetStringList(const VString& inName, VArrayString& ioList) const;

    virtual void Flush() {}
    virtual bool NeedsReleaseWork() const = 0;

    void DoOnRefCountZero() override;
};

}  // namespace qelt
