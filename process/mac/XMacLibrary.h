// The loader side of a library: the dynamic loader's handle and, for a
// bundle, its executable and folders.
#pragma once

#include <string>

#include "files/VFilePath.h"

namespace qelt {

class XMacLibrary {
public:
    XMacLibrary() = default;
    ~XMacLibrary() { Unload(); }

    XMacLibrary(const XMacLibrary&) = delete;
    XMacLibrary& operator=(const XMacLibrary&) = delete;

    // Loads the file or bundle; false (with the errors pushed) when it
    // cannot be loaded.
    bool Load(const VFilePath& inPath);
    void Unload();

    void* GetProcAddress(const std::string& inName) const;
    bool IsBundle() const { return fIsBundle; }
    // The bundle's executable (POSIX path), empty when none.
    const std::string& GetExecutablePath() const { return fExecutable; }
    // The POSIX folder of a bundle folder kind, empty when the bundle has
    // none.
    std::string GetFolder(uint32_t inKind) const;

    // A link file that a copy left in place of a symbolic link: its target
    // (the fourth non-empty line of the "XSym" form, else the whole text).
    // False for an "XSym" text of fewer than four lines.
    static bool ParseLinkFileText(const std::string& inText, std::string& outTarget);

private:
    static void _RepairFrameworkLinks(const VFilePath& inPath);
    static void _PushLoaderError(const VFilePath& inPath, const char* inReason);

    void* fHandle = nullptr;
    bool fIsBundle = false;
    std::string fBundle;
    std::string fExecutable;
};

}  // namespace qelt
