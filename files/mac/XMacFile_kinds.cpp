// Type identifiers of the platform side of files: public kinds come from the
// platform layer's table of declarations.
#include <cerrno>

#include "files/VFile.h"
#include "files/VFileKind.h"
#include "platform/PlatFile.h"
#include "files/mac/XMacFile.h"
#include "kernel/StStringConverter.h"
#include "platform/PlatFileKinds.h"

namespace qelt {

namespace {

std::string ToUTF8(const VString& inText)
{
    StStringConverter<char> bytes(inText, VTC_UTF_8);
    if (!bytes.IsOK())
        return {};
    return std::string(bytes.GetCPointer(), bytes.GetSize());
}

VString FromUTF8(const std::string& inText)
{
    VString out;
    out.FromBlock(inText.data(), static_cast<unsigned long>(inText.size()), VTC_UTF_8);
    return out;
}

std::vector<VString> FromUTF8List(const std::vector<std::string>& inList)
{
    std::vector<VString> out;
    for (const std::string& item : inList)
        out.push_back(FromUTF8(item));
    return out;
}

}  // namespace

VFileKind* XMacFile::CreatePublicFileKind(const VString& inID)
{
    plat::PublicKindDeclaration declaration;
    if (!plat::FindPublicKind(ToUTF8(inID), declaration))
        return nullptr;
    return VFileKind::Create(inID, std::vector<VString>(), FromUTF8(declaration.description),
                             FromUTF8List(declaration.extensions), FromUTF8List(declaration.parents), true);
}

VFileKind* XMacFile::CreatePublicFileKindFromExtension(const VString& inExtension)
{
    std::string id = plat::PublicKindForExtension(ToUTF8(inExtension));
    if (id.empty())
        return nullptr;
    return CreatePublicFileKind(FromUTF8(id));
}

VFileKind* XMacFile::CreatePublicFileKindFromOsKind(const VString&) { return nullptr; }

bool XMacFile::IsFileKindConformsTo(const VFileKind& a, const VFileKind& b)
{
    return plat::PublicKindConformsTo(ToUTF8(a.GetID()), ToUTF8(b.GetID()));
}

VError XMacFile::GetUTIString(VString& outUTI) const
{
    outUTI.Clear();
    std::string id;
    switch (plat::GetEntryKind(GetPosixText())) {
    case plat::EntryKind::Missing:
        return PosixError(ENOENT);
    case plat::EntryKind::Folder:
        id = "public.folder";
        break;
    case plat::EntryKind::Link:
        id = "public.symlink";
        break;
    default: {
        VString extension;
        if (fOwner != nullptr)
            fOwner->GetPath().GetExtension(extension);
        id = plat::PublicKindForExtension(ToUTF8(extension));
        if (id.empty())
            id = "public.data";
        break;
    }
    }
    outUTI = FromUTF8(id);
    return VE_OK;
}

VError XMacFile::ConformsTo(const VFileKind& inKind, bool* outConforms) const
{
    VString extension;
    if (fOwner != nullptr)
        fOwner->GetPath().GetExtension(extension);
    if (!inKind.IsPublic()) {
        *outConforms = inKind.MatchExtension(extension);
        return VE_OK;
    }
    VString uti;
    VError err = GetUTIString(uti);
    if (err != VE_OK)
        return err;
    *outConforms = plat::PublicKindConformsTo(ToUTF8(uti), ToUTF8(inKind.GetID())) ||
                   (!extension.IsEmpty() && inKind.MatchExtension(extension));
    return VE_OK;
}

}  // namespace qelt
