// A location in the file system, as a value: the path text in the toolbox's
// own ':' form and a valid flag. A full path begins with a volume name and
// ':'; every folder element ends with ':'; a path ending with ':' names a
// folder, any other a file. "::" after an element is one step up and is
// folded away when the path is set. Editing is plain text work: nothing here
// touches the disk. Containment and relative paths compare unit for unit,
// never through collation (names on Linux are compared byte for byte).
#pragma once

#include "kernel/VObject.h"
#include "kernel/VString.h"

namespace qelt {

// How a path text given to or asked of a VFilePath is written.
enum FilePathStyle {
    FPS_SYSTEM = 0,  // the own ':' form
    FPS_POSIX = 1    // '/'-separated; full paths begin with '/'
};

class VFolder;

class VFilePath : public VObject {
public:
    VFilePath() = default;
    VFilePath(const VFilePath& inPath) = default;
    VFilePath& operator=(const VFilePath& inPath) = default;
    VFilePath(const VString& inFullPath, FilePathStyle inStyle = FPS_SYSTEM, bool inUnused = false);
    VFilePath(const VFilePath& inBase, const VString& inRelative, FilePathStyle inStyle = FPS_SYSTEM,
              bool inRelativeOnly = false);
    ~VFilePath() override;

    // ---- Setting ------------------------------------------------------
    VFilePath& FromFilePath(const VFilePath& inPath);
    // The flag is accepted and has no effect.
    VFilePath& FromFullPath(const VString& inFullPath, FilePathStyle inStyle = FPS_SYSTEM, bool inUnused = false);
    // A base path and a relative text. With FPS_POSIX and inRelativeOnly the
    // base must be a valid folder; without inRelativeOnly a POSIX text that
    // begins with '/' is a full path on its own.
    VFilePath& FromRelativePath(const VFilePath& inBase, const VString& inRelative, FilePathStyle inStyle = FPS_SYSTEM,
                                bool inRelativeOnly = false);
    // The same with the folder's path as the base.
    VFilePath& FromRelativePath(const VFolder& inFolder, const VString& inRelative, FilePathStyle inStyle = FPS_SYSTEM,
                                bool inRelativeOnly = false);
    void Clear();

    // ---- Queries ------------------------------------------------------
    bool IsValid() const { return fIsValid; }
    bool IsFolder() const;
    bool IsFile() const;
    bool HasParent() const;
    void GetPath(VString& outPath) const { outPath.FromString(fPath); }
    // FPS_SYSTEM: the own text; any other style: the full POSIX text when
    // valid, else an empty string.
    VString GetPath(FilePathStyle inStyle) const;
    // The full POSIX text when valid, else the string is cleared.
    void GetPosixPath(VString& outPath) const;

    bool GetParent(VFilePath& outParent) const;
    bool GetFolder(VFilePath& outFolder) const;
    void GetName(VString& outName) const;
    void GetFileName(VString& outName, bool inWithExtension = true) const;
    void GetFolderName(VString& outName, bool inWithExtension = true) const;
    void GetExtension(VString& outExtension) const;
    // Whether the path ends with '.' + the extension (+ ':' for a folder),
    // by collation; the flag makes it diacritical-sensitive.
    bool MatchExtension(const VString& inExtension, bool inDiacritical = false) const;

    // The text below a base folder, compared unit for unit. Without a match
    // GetRelativePath gives the whole own text and GetRelativePosixPath the
    // full POSIX text (empty for an invalid path); both answer false.
    bool GetRelativePath(const VFilePath& inBase, VString& outRelative) const;
    bool GetRelativePosixPath(const VFilePath& inBase, VString& outRelative) const;

    bool IsChildOf(const VFilePath& inFolder) const;
    bool IsChildOfRawPath(const VFilePath& inFolder) const;
    bool IsSameOrChildOf(const VFilePath& inFolder) const;
    // Elements: 1 for "Vol:", 2 for "Vol:a:" or "Vol:f"; 0 when invalid.
    int GetDepth() const;

    // ---- Editing ------------------------------------------------------
    VFilePath& ToParent();
    VFilePath& ToFolder();
    VFilePath& ToSubFolder(const VString& inName);
    VFilePath& ToSubFile(const VString& inName);
    // A name holding ':' raises 'qelt' 614 and leaves the path unchanged; an
    // empty name changes nothing either (false).
    bool SetName(const VString& inName);
    bool SetFileName(const VString& inName, bool inWithExtension = true);
    bool SetFolderName(const VString& inName, bool inWithExtension = true);
    bool SetExtension(const VString& inExtension);
    bool SetFileExtension(const VString& inExtension);
    bool SetFolderExtension(const VString& inExtension);
    void RemoveBlanks();

    // ---- Helpers on bare texts ------------------------------------------
    // Folds the steps of the separator in the text from inStart (1-based):
    // with ':' every "::" after an element; with '/' or '\\' also "./" and
    // "../", and a doubled separator makes the text invalid. Linear in the
    // length of the text. The answer is the ok flag, also put in ioOk.
    static bool _ResolveStep(VString& ioText, int inStart, int inSeparatorPosition, bool& ioOk,
                             UniChar inSeparator);
    static bool _ResolveRelative(VString& ioText);
    static bool ResolveRelativePosix(VString& ioText);
    static void _RemoveBlanks(VString& ioText);
    static bool _CheckInvalidChars(const VString& inText);
    bool _GetParent(VString& ioText) const;
    bool _GetFolder(VString& ioText) const;
    bool _GetRelativePath(const VFilePath& inBase, VString& outRelative) const;

    CharSet DebugDump(char* inTextBuffer, int& inBufferSize) const override;

private:
    // Validity of the text, then the folding of its "::" steps.
    void _ValidateAndResolve();
    bool _IsFolderText() const;
    // The position (1-based) of the ':' that ends the element before the
    // last one, 0 when there is none.
    int _FindSeparatorBeforeLastElement() const;

    VString fPath;
    bool fIsValid = false;
};

}  // namespace qelt
