// A text log written as numbered part files in one folder: the base name,
// "_", the part number and ".txt". Text is appended to the current part
// through the C library's buffered stream; before each append the part's
// size is checked, and once it has grown past 10 MiB the next part is opened
// afresh and the part that falls out of the window of parts kept (50 by
// default) is deleted. Not synchronised: its owner serialises every call.
#pragma once

#include <cstdio>

#include "files/VFilePath.h"
#include "kernel/VKernelTypes.h"
#include "kernel/VObject.h"
#include "kernel/VString.h"

namespace qelt {

class VFolder;

class VSplitableLogFile : public VObject {
public:
    // A part is split once it holds this many bytes (10 MiB and one byte).
    static constexpr long kSplitSize = 0xA00001;
    static int sDefaultMaxLogsToKeep;

    // The parts lie directly in the folder.
    VSplitableLogFile(const VFolder& inFolder, const VString& inName, int inLogNumber, bool inByteMode);
    VSplitableLogFile(const VSplitableLogFile&) = delete;
    VSplitableLogFile& operator=(const VSplitableLogFile&) = delete;
    ~VSplitableLogFile() override;

    // Opens the current part: truncated or appended to, and with the search
    // flag on the first part number that names no file. A missing folder is
    // created, silently. True when a stream is open afterwards.
    bool Open(bool inTruncate, bool inSearchFreePart);
    bool Open(int inLogNumber, bool inTruncate);
    // Changes the part number; an open file moves to that part.
    void SetLogNumber(int inLogNumber, bool inTruncate);
    int GetLogNumber() const { return fLogNumber; }
    void Close();
    void Flush();
    bool IsOpen() const { return fStream != nullptr; }

    // Splits when the current part has grown too large: answers the new part
    // number, else 0.
    int CheckLogSize();
    void CheckEndOfLine();

    void AppendFormattedString(const char* inFormat, ...) __attribute__((format(printf, 2, 3)));
    void AppendString(const char* inText);
    void AppendString(const VString& inText);

    // 0 or less keeps every part.
    void SetMaxLogsToKeep(int inCount) { fMaxLogsToKeep = inCount; }
    int GetMaxLogsToKeep() const { return fMaxLogsToKeep; }

    void GetCurrentFileName(VString& outName) const;
    // The path of a part in the folder; empty when the folder path is.
    void _BuildFilePath(VFilePath& outPath, int inLogNumber) const;

    static void BuildLogFileName(const VString& inName, int inLogNumber, VString& outName);
    static void BuildLogFileNameWithExt(const VString& inName, int inLogNumber, const VString& inExtension,
                                        VString& outName);

private:
    void _BuildFileName(int inLogNumber, VString& outName) const;

    // Remembers the bytes written to the stream, so that the size test
    // needs no system call (an append stream's ftell asks the system).
    void _Wrote(long inBytes)
    {
        if (inBytes > 0)
            fPosition += inBytes;
    }

    FILE* fStream = nullptr;
    long fPosition = 0;  // the size of the current part, with what is buffered
    VFilePath fFolderPath;
    VString fName;
    int fLogNumber = 1;
    int fMaxLogsToKeep;
    CharSet fCharSet = VTC_UTF_8;
    // Left empty by every user: written after each opening, before each
    // closing, in place of ".txt", before each append but the first.
    VString fHeader;
    VString fFooter;
    VString fExtension;
    VString fSeparator;
    bool fJustOpened = false;
    bool fByteMode = false;
};

}  // namespace qelt
