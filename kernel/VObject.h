// The root class of the toolbox's objects: a virtual destructor and a debug
// dump. The process memory manager hangs off its static member.
#pragma once

#include "kernel/VKernelTypes.h"

namespace qelt {

class VCppMemMgr;
class VString;

class VObject {
public:
    VObject() = default;
    VObject(const VObject&) = default;
    VObject& operator=(const VObject&) = default;
    // Empty and written here, so that destroying any of the many small
    // objects (JSON values, strings) calls nothing for its root class.
    virtual ~VObject() = default;

    // Writes a description of the object into buffer, whose capacity in
    // bytes the caller passes in size; sets size to the number of bytes
    // written and returns the encoding of the text. The default writes
    // nothing (size 0) and answers UTF-8.
    virtual CharSet DebugDump(char* buffer, int& size) const;

    // The virtual dump, through a 1024-byte buffer, decoded into a string.
    void DebugDump(VString& outDump) const;

    // Clears the string: no class name is produced.
    void DebugGetClassName(VString& outName) const;

    // The process memory manager; set when it is created at start-up.
    static VCppMemMgr* sCppMemMgr;
};

}  // namespace qelt
