// The file layer's hand-over of paths to the system: the full conversions
// between POSIX paths and the toolbox's own ':' form, and NUL-terminated
// UTF-8 path texts. Texts go out and come in as UTF-8 without Unicode
// normalisation, in the strict path mode of the UTF-8 coding: every byte of
// an ill-formed sequence comes in as U+DC00 plus the byte, and the units
// U+DC80-U+DCFF go out as that byte, so that every name round-trips.
#pragma once

#include <cstddef>
#include <string>

#include "kernel/VString.h"

namespace qelt {

class VFilePath;

class XMacFile {
public:
    // A full POSIX path (UTF-8, beginning with '/') in the own form, by text
    // alone: "/" is the root volume's "Disk:", elements are joined by ':', a
    // ':' in a name becomes '/', repeated '/' count as one, "." drops out and
    // ".." goes up one element (never above the root). The flag is accepted
    // and has no effect (nothing is resolved on the disk). False when the
    // text does not begin with '/' or no volume is mounted at "/".
    static bool PosixFullPathToHFS(const char* inPosixPath, bool inResolveItem, VString& outPath);
    // The same on a text already decoded.
    static bool PosixFullPathToHFS(const VString& inPosixPath, VString& outPath);
    // A full path in the own form as POSIX text. A volume without an entry
    // is read as a folder at the root ("/Name/...") and answers false.
    static bool HFSFullPathToPosix(const VString& inPath, VString& outPosixPath);

    // New NUL-terminated UTF-8 texts from the process memory manager, freed
    // by the caller with VCppMemMgr::Free; never null (an empty text when no
    // block can be had, or for an invalid path). Null only without memory.
    static char* AllocatePosixPathFromFilePath(const VFilePath& inPath);
    static char* AllocatePosixPathFromString(const VString& inPosixPath);

    // Sets the path from a UTF-8 POSIX text; a folder gets its trailing '/'.
    // A null text clears the path.
    static void GetFilePathFromPosixPath(const char* inPosixPath, bool inIsFolder, VFilePath& outPath);

    // Whether the last element (one trailing '/' ignored) begins with '.'.
    static bool PosixNameBeginsWithDot(const char* inPosixPath);

    // The volume name of a mount path, from the volume cache.
    static bool GetVolumeNameFromMountPath(const char* inMountPath, char* outName, size_t inSize);

    // The path mode of the UTF-8 coding, in both directions.
    static void DecodePathBytes(const char* inBytes, size_t inCount, VString& outText);
    static void EncodePathText(const UniChar* inUnits, int inCount, std::string& outBytes);
};

}  // namespace qelt
