#include "runtime/VErrorTexts.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace qelt {

namespace {

struct NativeToToolbox {
    VError fNative;
    VError fToolbox;
};

constexpr VError Carbon(int status) { return MakeVError(kSignatureCARB, status); }

// Searched in order; the entry whose toolbox code is the generic failure ends
// the table.
constexpr NativeToToolbox kNativeTable[] = {
    {0, 0},
    {Carbon(-108), QeltError(100)},  // out of memory
    {Carbon(-39), QeltError(200)},   // end of data
    {Carbon(-34), QeltError(658)},   // disk full
    {Carbon(-43), QeltError(600)},   // file not found
    {Carbon(-120), QeltError(650)},  // folder not found
    {Carbon(-45), QeltError(5)},     // file locked: access denied
    {Carbon(-46), QeltError(5)},     // volume locked: access denied
    {Carbon(-192), QeltError(401)},  // resource not found
    {Carbon(-37), QeltError(614)},   // bad name
    {Carbon(-54), QeltError(5)},     // permission: access denied
    {Carbon(-128), QeltError(6)},    // cancelled by the user
    {PosixError(ENOENT), QeltError(600)},
    {PosixError(EACCES), QeltError(5)},
    {0, QeltError(1)},  // end of table
};

struct CarbonStatusText {
    int fStatus;
    const char* fName;
    const char* fComment;
};

constexpr CarbonStatusText kCarbonTexts[] = {
    {0, "noErr", "No error"},
    {-33, "dirFulErr", "Directory full"},
    {-34, "dskFulErr", "Disk full"},
    {-35, "nsvErr", "No such volume"},
    {-36, "ioErr", "I/O error"},
    {-37, "bdNamErr", "Bad file name or volume name"},
    {-38, "fnOpnErr", "File not open"},
    {-39, "eofErr", "End of file"},
    {-40, "posErr", "Attempt to position before the start of the file"},
    {-41, "mFulErr", "Memory full (open) or file won't fit (load)"},
    {-42, "tmfoErr", "Too many files open"},
    {-43, "fnfErr", "File not found"},
    {-44, "wPrErr", "Disk is write-protected"},
    {-45, "fLckdErr", "File is locked"},
    {-46, "vLckdErr", "Volume is locked"},
    {-47, "fBsyErr", "File is busy"},
    {-48, "dupFNErr", "Duplicate file name"},
    {-49, "opWrErr", "File already open with write permission"},
    {-50, "paramErr", "Error in a parameter"},
    {-51, "rfNumErr", "Bad reference number"},
    {-52, "gfpErr", "Get file position error"},
    {-53, "volOffLinErr", "Volume not on line"},
    {-54, "permErr", "Permission error"},
    {-55, "volOnLinErr", "Volume already on line"},
    {-56, "nsDrvErr", "No such drive"},
    {-57, "noMacDskErr", "Not a known disk format"},
    {-58, "extFSErr", "Volume belongs to an external file system"},
    {-59, "fsRnErr", "Problem during rename"},
    {-60, "badMDBErr", "Bad master directory block"},
    {-61, "wrPermErr", "Write permission error"},
    {-108, "memFullErr", "Not enough memory"},
    {-120, "dirNFErr", "Directory not found"},
    {-121, "tmwdoErr", "Too many working directories open"},
    {-122, "badMovErr", "Attempt to move into an offspring"},
    {-123, "wrgVolTypErr", "Wrong volume type"},
    {-124, "volGoneErr", "Server volume has been disconnected"},
    {-128, "userCanceledErr", "User cancelled the operation"},
    {-192, "resNotFound", "Resource not found"},
    {-1407, "errFSNotAFolder", "Expected a folder, got a file"},
    {-4960, "coreFoundationUnknownErr", "Unknown platform error"},
};

const CarbonStatusText* FindCarbonText(int status)
{
    for (const CarbonStatusText& entry : kCarbonTexts) {
        if (entry.fStatus == status)
            return &entry;
    }
    return nullptr;
}

// Kernel return codes 0 to 49, by number.
constexpr const char* kMachTexts[] = {
    "kernel: success",
    "kernel: invalid address",
    "kernel: protection failure",
    "kernel: no space available",
    "kernel: invalid argument",
    "kernel: failure",
    "kernel: resource shortage",
    "kernel: not the receiver",
    "kernel: no access",
    "kernel: memory failure",
    "kernel: memory error",
    "kernel: already in the set",
    "kernel: not in the set",
    "kernel: name exists",
    "kernel: aborted",
    "kernel: invalid name",
    "kernel: invalid task",
    "kernel: invalid right",
    "kernel: invalid value",
    "kernel: user references overflow",
    "kernel: invalid capability",
    "kernel: right exists",
    "kernel: invalid host",
    "kernel: memory present",
    "kernel: memory data moved",
    "kernel: memory restart copy",
    "kernel: invalid processor set",
    "kernel: policy limit",
    "kernel: invalid policy",
    "kernel: invalid object",
    "kernel: already waiting",
    "kernel: default set",
    "kernel: exception protected",
    "kernel: invalid ledger",
    "kernel: invalid memory control",
    "kernel: invalid security",
    "kernel: not depressed",
    "kernel: terminated",
    "kernel: lock set destroyed",
    "kernel: lock unstable",
    "kernel: lock owned",
    "kernel: lock owned by self",
    "kernel: semaphore destroyed",
    "kernel: remote procedure server terminated",
    "kernel: remote procedure orphan terminated",
    "kernel: remote procedure orphan continued",
    "kernel: not supported",
    "kernel: node down",
    "kernel: not waiting",
    "kernel: operation timed out",
};

struct CocoaText {
    int fCode;
    const char* fText;
};

constexpr CocoaText kCocoaTexts[] = {
    {4, "The file does not exist."},
    {255, "The file could not be locked."},
    {256, "The file could not be opened."},
    {257, "The file could not be opened because you do not have permission to view it."},
    {258, "The file name is invalid."},
    {259, "The file could not be opened because it is not in the right format."},
    {260, "The file could not be opened because there is no such file."},
    {261, "The file could not be opened because the text encoding of its contents cannot be determined."},
    {512, "The file could not be saved."},
    {513, "You do not have permission to save the file."},
    {514, "The file could not be saved because the name is invalid."},
    {516, "The file could not be saved because a file with the same name already exists."},
    {517, "The file could not be saved using the specified text encoding."},
    {640, "The file could not be saved because there is not enough space."},
    {642, "The file could not be saved because the volume is read only."},
    {3072, "The operation was cancelled."},
};

}  // namespace

bool FindNativeErrorInTable(VError inNativeError, VError& outToolboxError)
{
    for (const NativeToToolbox& entry : kNativeTable) {
        if (entry.fToolbox == QeltError(1))
            break;
        if (entry.fNative == inNativeError) {
            outToolboxError = entry.fToolbox;
            return true;
        }
    }
    return false;
}

const char* GetCarbonStatusComment(int inStatus)
{
    const CarbonStatusText* entry = FindCarbonText(inStatus);
    return entry != nullptr ? entry->fComment : nullptr;
}

const char* GetCarbonStatusName(int inStatus)
{
    const CarbonStatusText* entry = FindCarbonText(inStatus);
    return entry != nullptr ? entry->fName : nullptr;
}

const char* GetMachErrorText(int inCode)
{
    constexpr int count = static_cast<int>(sizeof(kMachTexts) / sizeof(kMachTexts[0]));
    if (inCode < 0 || inCode >= count)
        return nullptr;
    return kMachTexts[inCode];
}

std::string GetCocoaErrorText(int inCode)
{
    for (const CocoaText& entry : kCocoaTexts) {
        if (entry.fCode == inCode)
            return entry.fText;
    }
    char text[128];
    std::snprintf(text, sizeof(text), "The operation could not be completed. (Cocoa error %d.)", inCode);
    return text;
}

bool GetPosixErrorText(int inErrno, std::string& outText)
{
    outText.clear();
    // Only values this system knows as errno values have a text; the C
    // library would otherwise make up an "unknown error" text.
    if (::strerrorname_np(inErrno) == nullptr)
        return false;
    char buffer[1024];
    buffer[0] = 0;
    const char* text = ::strerror_r(inErrno, buffer, sizeof(buffer));
    if (text == nullptr)
        return false;
    outText.assign(text, ::strnlen(text, sizeof(buffer)));
    return !outText.empty();
}

bool GetNativeErrorText(VError inNativeError, std::string& outText)
{
    outText.clear();
    const int number = VErrorNumber(inNativeError);
    switch (VErrorComponent(inNativeError)) {
        case kSignatureCARB: {
            // "comment (name)." when both halves are known; one half alone
            // is given as it stands; neither gives no text.
            const char* comment = GetCarbonStatusComment(number);
            const char* name = GetCarbonStatusName(number);
            const bool hasComment = comment != nullptr && comment[0] != 0;
            const bool hasName = name != nullptr && name[0] != 0;
            if (hasComment && hasName) {
                outText = comment;
                outText += " (";
                outText += name;
                outText += ").";
            } else if (hasComment) {
                outText = comment;
                outText += ".";
            } else if (hasName) {
                outText = name;
                outText += ".";
            }
            break;
        }
        case kSignatureCOCO:
            outText = GetCocoaErrorText(number);
            break;
        case kSignatureMACH: {
            const char* text = GetMachErrorText(number);
            if (text != nullptr)
                outText = text;
            break;
        }
        case kSignaturePOSX:
            GetPosixErrorText(number, outText);
            break;
        default:
            break;
    }
    return !outText.empty();
}

}  // namespace qelt
