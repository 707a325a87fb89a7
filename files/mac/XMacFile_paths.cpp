// Full path conversions and path texts of the file layer.
#include <cstring>

#include "files/VFilePath.h"
#include "files/mac/XMacFile.h"
#include "files/mac/XMacVolumes.h"
#include "kernel/VCppMemMgr.h"
#include "platform/PlatUTF8.h"

namespace qelt {

namespace {

constexpr UniChar kColon = u':';
constexpr UniChar kSlash = u'/';
constexpr int kMemTag_Path = static_cast<int>(FourCC("path"));

// Writes n units into a string whose buffer holds at least n units.
UniChar* WritableUnits(VString& ioText, int inCapacity)
{
    if (!ioText._ReallocBuffer(inCapacity, false))
        return nullptr;
    return const_cast<UniChar*>(ioText.GetCPointer());
}

}  // namespace

// ---- Path texts in the path mode of the platform's UTF-8 coder ----------------

void XMacFile::DecodePathBytes(const char* inBytes, size_t inCount, VString& outText)
{
    outText.Clear();
    if (inBytes == nullptr || inCount == 0)
        return;
    if (inCount > 0x3FFFFFF0)
        inCount = 0x3FFFFFF0;
    // One unit a byte at most.
    UniChar* out = WritableUnits(outText, static_cast<int>(inCount));
    if (out == nullptr)
        return;
    const plat::UTF8Result result = plat::DecodeUTF8(inBytes, inCount, out, inCount, plat::UTF8Mode::kPath, true);
    outText.Validate(static_cast<int>(result.produced));
}

void XMacFile::EncodePathText(const UniChar* inUnits, int inCount, std::string& outBytes)
{
    if (inUnits == nullptr || inCount <= 0) {
        outBytes.clear();
        return;
    }
    outBytes = plat::UTF16ToUTF8(inUnits, static_cast<size_t>(inCount), plat::UTF8Mode::kPath);
}

// ---- Full conversions ------------------------------------------------------

bool XMacFile::PosixFullPathToHFS(const char* inPosixPath, bool /*inResolveItem*/, VString& outPath)
{
    if (inPosixPath == nullptr || inPosixPath[0] != '/')
        return false;
    VStr<255> text;
    DecodePathBytes(inPosixPath, std::strlen(inPosixPath), text);
    return PosixFullPathToHFS(text, outPath);
}

bool XMacFile::PosixFullPathToHFS(const VString& inPosixPath, VString& outPath)
{
    const int length = inPosixPath.GetLength();
    const UniChar* in = inPosixPath.GetCPointer();
    if (length == 0 || in[0] != kSlash)
        return false;
    VStr<63> volume;
    if (!XMacVolumes::Get().GetRootVolumeName(volume))
        return false;

    // The volume name, ':', then each element followed by ':'; a ".." cuts
    // the last element back off. The result is at most the volume, its ':'
    // and the path's own units long.
    const int volumeLength = volume.GetLength();
    VStr<255> result;
    UniChar* out = WritableUnits(result, volumeLength + 1 + length);
    if (out == nullptr)
        return false;
    std::memcpy(out, volume.GetCPointer(), static_cast<size_t>(volumeLength) * sizeof(UniChar));
    int n = volumeLength;
    out[n++] = kColon;
    const int root = n;
    bool folder = true;  // "/" and paths ending in '/', "." or ".." name folders
    int i = 0;
    while (i < length) {
        while (i < length && in[i] == kSlash)
            ++i;
        if (i == length)
            break;
        int end = i;
        while (end < length && in[end] != kSlash)
            ++end;
        const int elementLength = end - i;
        if (elementLength == 1 && in[i] == u'.') {
            folder = true;
        } else if (elementLength == 2 && in[i] == u'.' && in[i + 1] == u'.') {
            if (n > root) {
                --n;  // the element's ':'
                while (n > root && out[n - 1] != kColon)
                    --n;
            }
            folder = true;
        } else {
            for (int k = i; k < end; ++k)
                out[n++] = (in[k] == kColon) ? kSlash : in[k];
            out[n++] = kColon;
            folder = (end < length);
        }
        i = end;
    }
    if (!folder && n > root)
        --n;
    result.Validate(n);
    outPath.FromString(result);
    return true;
}

bool XMacFile::HFSFullPathToPosix(const VString& inPath, VString& outPosixPath)
{
    const int length = inPath.GetLength();
    const UniChar* in = inPath.GetCPointer();
    int colon = 0;
    while (colon < length && in[colon] != kColon)
        ++colon;
    VStr<63> volume;
    volume.FromUniString(in, colon);
    const int restStart = (colon < length) ? colon + 1 : length;

    VStr<63> mount;
    bool known = XMacVolumes::Get().GetMountPathFromVolumeName(volume, mount);
    if (!known) {
        // A volume that is not mounted is read as a folder at the root.
        mount.FromUniChar(kSlash);
        if (!volume.IsEmpty())
            mount.AppendString(volume);
    }
    const int mountLength = mount.GetLength();
    const bool addSlash = mountLength == 0 || mount.GetCPointer()[mountLength - 1] != kSlash;
    VStr<255> result;
    UniChar* out = WritableUnits(result, mountLength + 1 + (length - restStart));
    if (out == nullptr) {
        outPosixPath.Clear();
        return false;
    }
    std::memcpy(out, mount.GetCPointer(), static_cast<size_t>(mountLength) * sizeof(UniChar));
    int n = mountLength;
    if (addSlash)
        out[n++] = kSlash;
    for (int k = restStart; k < length; ++k) {
        const UniChar c = in[k];
        out[n++] = (c == kColon) ? kSlash : (c == kSlash) ? kColon : c;
    }
    result.Validate(n);
    outPosixPath.FromString(result);
    return known;
}

// ---- Texts for the system ---------------------------------------------------

char* XMacFile::AllocatePosixPathFromString(const VString& inPosixPath)
{
    std::string bytes;
    EncodePathText(inPosixPath.GetCPointer(), inPosixPath.GetLength(), bytes);
    VCppMemMgr* manager = VObject::sCppMemMgr;
    if (manager == nullptr)
        return nullptr;
    auto* block = static_cast<char*>(manager->Malloc(bytes.size() + 1, false, kMemTag_Path));
    if (block == nullptr) {
        block = static_cast<char*>(manager->Malloc(1, false, kMemTag_Path));
        if (block != nullptr)
            block[0] = 0;
        return block;
    }
    std::memcpy(block, bytes.data(), bytes.size());
    block[bytes.size()] = 0;
    return block;
}

char* XMacFile::AllocatePosixPathFromFilePath(const VFilePath& inPath)
{
    VStr<255> posix;
    inPath.GetPosixPath(posix);
    return AllocatePosixPathFromString(posix);
}

void XMacFile::GetFilePathFromPosixPath(const char* inPosixPath, bool inIsFolder, VFilePath& outPath)
{
    if (inPosixPath == nullptr) {
        outPath.Clear();
        return;
    }
    VStr<255> text;
    DecodePathBytes(inPosixPath, std::strlen(inPosixPath), text);
    const int length = text.GetLength();
    if (inIsFolder && length > 0 && text.GetCPointer()[length - 1] != kSlash)
        text.AppendUniChar(kSlash);
    outPath.FromFullPath(text, FPS_POSIX);
}

bool XMacFile::CreateNSURLFromFilePath(const VFilePath& inPath, std::string& outPosixPath, bool& outIsFolder)
{
    VStr<255> posix;
    inPath.GetPosixPath(posix);
    EncodePathText(posix.GetCPointer(), posix.GetLength(), outPosixPath);
    outIsFolder = inPath.IsFolder();
    return !outPosixPath.empty();
}

void XMacFile::GetFilePathFromNSURL(const char* inPosixPath, bool inIsFolder, VFilePath& outPath)
{
    GetFilePathFromPosixPath(inPosixPath, inIsFolder, outPath);
}

bool XMacFile::PosixNameBeginsWithDot(const char* inPosixPath)
{
    if (inPosixPath == nullptr)
        return false;
    size_t length = std::strlen(inPosixPath);
    if (length < 2)
        return false;
    if (inPosixPath[length - 1] == '/')
        --length;
    size_t start = length;
    while (start > 0 && inPosixPath[start - 1] != '/')
        --start;
    return start < length && inPosixPath[start] == '.';
}

bool XMacFile::GetVolumeNameFromMountPath(const char* inMountPath, char* outName, size_t inSize)
{
    return XMacVolumes::Get().GetVolumeNameFromMountPath(inMountPath, outName, inSize);
}

}  // namespace qelt
