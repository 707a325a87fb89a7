#include "runtime/VSplitableLogFile.h"

#include <sys/stat.h>

#include <cstdarg>
#include <cstring>
#include <string>

#include "files/VFile.h"
#include "files/VFolder.h"
#include "kernel/StStringConverter.h"
#include "runtime/VErrorContext.h"

namespace qelt {

int VSplitableLogFile::sDefaultMaxLogsToKeep = 50;

namespace {

std::string PosixUTF8(const VFilePath& inPath)
{
    VString posix;
    inPath.GetPosixPath(posix);
    return to_string(posix);
}

bool FileExists(const VFilePath& inPath)
{
    VRefPtr<VFile> file = AdoptRef(new VFile(inPath));
    return file->Exists();
}

}  // namespace

VSplitableLogFile::VSplitableLogFile(const VFolder& inFolder, const VString& inName, int inLogNumber, bool inByteMode)
    : fFolderPath(inFolder.GetPath()),
      fName(inName),
      fLogNumber(inLogNumber),
      fMaxLogsToKeep(sDefaultMaxLogsToKeep),
      fByteMode(inByteMode)
{
}

VSplitableLogFile::~VSplitableLogFile()
{
    Close();
}

void VSplitableLogFile::BuildLogFileName(const VString& inName, int inLogNumber, VString& outName)
{
    BuildLogFileNameWithExt(inName, inLogNumber, VString(), outName);
}

void VSplitableLogFile::BuildLogFileNameWithExt(const VString& inName, int inLogNumber, const VString& inExtension,
                                                VString& outName)
{
    outName.FromString(inName);
    outName.AppendCString("_");
    outName.AppendLong(inLogNumber);
    if (inExtension.IsNull() || inExtension.IsEmpty())
        outName.AppendCString(".txt");
    else
        outName.AppendString(inExtension);
}

void VSplitableLogFile::_BuildFileName(int inLogNumber, VString& outName) const
{
    BuildLogFileNameWithExt(fName, inLogNumber, fExtension, outName);
}

void VSplitableLogFile::GetCurrentFileName(VString& outName) const
{
    _BuildFileName(fLogNumber, outName);
}

void VSplitableLogFile::_BuildFilePath(VFilePath& outPath, int inLogNumber) const
{
    outPath.Clear();
    VString folder;
    fFolderPath.GetPath(folder);
    if (!fFolderPath.IsValid() || folder.IsEmpty() || fName.IsEmpty())
        return;
    VString name;
    _BuildFileName(inLogNumber, name);
    outPath.FromFilePath(fFolderPath);
    outPath.ToSubFile(name);
}

bool VSplitableLogFile::Open(bool inTruncate, bool inSearchFreePart)
{
    if (fStream == nullptr) {
        VFilePath path;
        _BuildFilePath(path, fLogNumber);
        if (!path.IsValid()) {
            fJustOpened = true;
            return false;
        }
        if (inSearchFreePart) {
            while (FileExists(path)) {
                ++fLogNumber;
                _BuildFilePath(path, fLogNumber);
            }
        }
        const std::string posix = PosixUTF8(path);
        {
            // A folder that cannot be made shows as a failed opening only.
            StErrorContextInstaller silent(false, true);
            VRefPtr<VFolder> folder = AdoptRef(new VFolder(fFolderPath));
            folder->CreateRecursive(false);
        }
        const char* create = fByteMode ? "wb" : "w";
        if (inTruncate) {
            fStream = std::fopen(posix.c_str(), create);
        } else if (FILE* existing = std::fopen(posix.c_str(), "r")) {
            // An existing part is appended to.
            fStream = std::freopen(posix.c_str(), fByteMode ? "ab" : "a", existing);
        } else {
            fStream = std::fopen(posix.c_str(), create);
        }
        if (fStream == nullptr) {
            fJustOpened = true;
            return false;
        }
        struct stat info;
        fPosition = ::fstat(fileno(fStream), &info) == 0 ? static_cast<long>(info.st_size) : 0;
    }
    if (!fHeader.IsEmpty()) {
        StStringConverter<char> bytes(fHeader, fCharSet);
        _Wrote(static_cast<long>(std::fwrite(bytes.GetCPointer(), 1, bytes.GetSize(), fStream)));
    }
    fJustOpened = true;
    return true;
}

bool VSplitableLogFile::Open(int inLogNumber, bool inTruncate)
{
    fLogNumber = inLogNumber;
    return Open(inTruncate, false);
}

void VSplitableLogFile::SetLogNumber(int inLogNumber, bool inTruncate)
{
    fLogNumber = inLogNumber;
    if (fStream != nullptr) {
        Close();
        Open(inTruncate, false);
    }
}

void VSplitableLogFile::Close()
{
    if (fStream == nullptr)
        return;
    if (!fFooter.IsEmpty()) {
        StStringConverter<char> bytes(fFooter, fCharSet);
        std::fwrite(bytes.GetCPointer(), 1, bytes.GetSize(), fStream);
    }
    if (fStream != stdout)
        std::fclose(fStream);
    fStream = nullptr;
}

void VSplitableLogFile::Flush()
{
    if (fStream != nullptr)
        std::fflush(fStream);
}

int VSplitableLogFile::CheckLogSize()
{
    if (fStream == nullptr || fPosition < kSplitSize)
        return 0;
    Close();
    const int oldNumber = fLogNumber;
    fLogNumber = oldNumber + 1;
    const int kept = fMaxLogsToKeep;
    if (kept >= 1 && oldNumber >= kept) {
        // Only the exact part that leaves the window is deleted.
        VFilePath old;
        _BuildFilePath(old, fLogNumber - kept);
        const std::string posix = PosixUTF8(old);
        if (!posix.empty()) {
            if (FILE* probe = std::fopen(posix.c_str(), "r")) {
                std::fclose(probe);
                std::remove(posix.c_str());
            }
        }
    }
    Open(true, false);
    return fLogNumber;
}

void VSplitableLogFile::CheckEndOfLine()
{
    if (fJustOpened) {
        fJustOpened = false;
    } else if (!fSeparator.IsEmpty() && fStream != nullptr) {
        StStringConverter<char> bytes(fSeparator, fCharSet);
        _Wrote(static_cast<long>(std::fwrite(bytes.GetCPointer(), 1, bytes.GetSize(), fStream)));
    }
}

void VSplitableLogFile::AppendFormattedString(const char* inFormat, ...)
{
    CheckLogSize();
    if (fStream == nullptr)
        return;
    CheckEndOfLine();
    va_list args;
    va_start(args, inFormat);
    _Wrote(std::vfprintf(fStream, inFormat, args));
    va_end(args);
}

void VSplitableLogFile::AppendString(const char* inText)
{
    CheckLogSize();
    if (fStream == nullptr || inText == nullptr)
        return;
    CheckEndOfLine();
    const size_t length = std::strlen(inText);
    _Wrote(static_cast<long>(std::fwrite(inText, 1, length, fStream)));
}

void VSplitableLogFile::AppendString(const VString& inText)
{
    CheckLogSize();
    if (fStream == nullptr)
        return;
    CheckEndOfLine();
    StStringConverter<char> bytes(inText, fCharSet);
    _Wrote(static_cast<long>(std::fwrite(bytes.GetCPointer(), 1, bytes.GetSize(), fStream)));
}

}  // namespace qelt
