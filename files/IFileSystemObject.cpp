#include "files/IFileSystemObject.h"

#include <atomic>

#include "json/VJSONValue.h"
#include "platform/PlatNumbers.h"

namespace qelt {

void IFileSystemObject::GetName(VString& outName) const { GetPath().GetName(outName); }

void IFileSystemObject::GetExtension(VString& outExtension) const { GetPath().GetExtension(outExtension); }

bool IFileSystemObject::MatchExtension(const VString& inExtension) const
{
    return GetPath().MatchExtension(inExtension, false);
}

namespace {

bool IsReservedFileUnit(UniChar u)
{
    switch (u) {
    case '"': case '%': case '*': case '/': case ':': case '<': case '>': case '?': case '\\': case '|':
        return true;
    default:
        return u < 0x20;
    }
}

}  // namespace

VString EncodeReservedFileCharacters(const VString& inText)
{
    static const char kHex[] = "0123456789ABCDEF";
    const UniChar* units = inText.GetCPointer();
    const int length = inText.GetLength();
    int reserved = 0;
    for (int i = 0; i < length; ++i)
        reserved += IsReservedFileUnit(units[i]) ? 1 : 0;
    if (reserved == 0)
        return inText;
    VString out;
    for (int i = 0; i < length; ++i) {
        UniChar u = units[i];
        if (IsReservedFileUnit(u)) {
            out.AppendUniChar('%');
            out.AppendUniChar(static_cast<UniChar>(kHex[(u >> 4) & 15]));
            out.AppendUniChar(static_cast<UniChar>(kHex[u & 15]));
        } else {
            out.AppendUniChar(u);
        }
    }
    return out;
}

VString DecodeReservedFileCharacters(const VString& inText)
{
    const UniChar* units = inText.GetCPointer();
    const int length = inText.GetLength();
    bool hasEscape = false;
    for (int i = 0; i < length && !hasEscape; ++i)
        hasEscape = units[i] == '%';
    if (!hasEscape)
        return inText;
    VString out;
    for (int i = 0; i < length; ++i) {
        if (units[i] == '%' && i + 2 < length) {
            // The two units after '%' as a hexadecimal number; units that are
            // no hexadecimal digits are skipped.
            unsigned value = 0;
            for (int k = 1; k <= 2; ++k) {
                int digit = plat::HexDigitValue(units[i + k]);
                if (digit >= 0)
                    value = value * 16 + static_cast<unsigned>(digit);
            }
            out.AppendUniChar(static_cast<UniChar>(value));
            i += 2;
        } else {
            out.AppendUniChar(units[i]);
        }
    }
    return out;
}

namespace {

struct Hooks {
    std::atomic<FileExtractor> fileExtractor{nullptr};
    std::atomic<FolderExtractor> folderExtractor{nullptr};
    std::atomic<FileWrapper> fileWrapper{nullptr};
    std::atomic<FolderWrapper> folderWrapper{nullptr};
};

Hooks& TheHooks()
{
    static Hooks sHooks;
    return sHooks;
}

}  // namespace

void SetFileFolderExtractorAndWrapper(FileExtractor inFileExtractor, FolderExtractor inFolderExtractor,
                                      FileWrapper inFileWrapper, FolderWrapper inFolderWrapper)
{
    Hooks& hooks = TheHooks();
    hooks.fileExtractor = inFileExtractor;
    hooks.folderExtractor = inFolderExtractor;
    hooks.fileWrapper = inFileWrapper;
    hooks.folderWrapper = inFolderWrapper;
}

IFile* ExtractFile(const VJSONValue& inValue)
{
    FileExtractor hook = TheHooks().fileExtractor;
    return hook != nullptr ? hook(inValue) : nullptr;
}

IFolder* ExtractFolder(const VJSONValue& inValue)
{
    FolderExtractor hook = TheHooks().folderExtractor;
    return hook != nullptr ? hook(inValue) : nullptr;
}

VJSONValue WrapFile(IFile* inFile)
{
    FileWrapper hook = TheHooks().fileWrapper;
    return hook != nullptr ? hook(inFile) : VJSONValue(JSON_undefined);
}

VJSONValue WrapFolder(IFolder* inFolder)
{
    FolderWrapper hook = TheHooks().folderWrapper;
    return hook != nullptr ? hook(inFolder) : VJSONValue(JSON_undefined);
}

}  // namespace qelt
