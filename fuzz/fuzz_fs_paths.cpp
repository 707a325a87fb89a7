// Path texts through a namespace of two file systems ("DATA" and the private
// "HOME"), in every form of lookup: parsing, files, folders, every option
// and flag, with and without a base folder. Whatever comes back bound to a
// file system lies inside that file system's root. An input that reads as a
// JSON array is also loaded as file-system definitions: every registered
// name is valid.
#include <string>

#include "files/IFolder.h"
#include "files/VFile.h"
#include "files/VFileSystem.h"
#include "files/VFileSystemNamespace.h"
#include "files/VFolder.h"
#include "fuzz/FuzzSupport.h"
#include "json/VJSONArray.h"
#include "json/VJSONImporter.h"
#include "json/VJSONValue.h"

using namespace qelt;

namespace {

VFileSystemNamespace* Namespace()
{
    static VFileSystemNamespace* space = [] {
        auto* parent = new VFileSystemNamespace(nullptr);
        VRefPtr<VFolder> home = AdoptRef(new VFolder(VString("/tmp/fuzz-home/"), FPS_POSIX));
        parent->RegisterFileSystem(VString("HOME"), home.Get(), kFileSystemPrivate);
        auto* child = new VFileSystemNamespace(parent);
        parent->Release();
        VRefPtr<VFolder> data = AdoptRef(new VFolder(VString("/tmp/fuzz-data/sub/"), FPS_POSIX));
        child->RegisterFileSystem(VString("DATA"), data.Get(), kFileSystemWritable);
        return child;
    }();
    return space;
}

void CheckInside(const IFileSystemObject* inObject)
{
    if (inObject == nullptr || inObject->GetFileSystem() == nullptr)
        return;
    fuzz::Check(inObject->GetFileSystem()->IsAuthorized(inObject->GetPath()),
                "an object bound to a file system lies inside its root");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    fuzz::Setup();
    fuzz::Scope scope;
    VString text;
    fuzz::MakeText(data, size, text);
    VFileSystemNamespace* space = Namespace();
    VRefPtr<IFolder> base = AdoptRef(space->RetainFileSystemRootFolder(VString("DATA"), 0));

    for (unsigned int options = 0; options < 4; ++options) {
        VRefPtr<VFileSystem> fileSystem;
        VString relative;
        if (space->ParsePathWithFileSystem(text, fileSystem, relative, options))
            fuzz::Check(fileSystem.Get() != nullptr, "a parsed path names its file system");
        for (int flags = 0; flags < 4; ++flags) {
            IFolder* folderBase = (flags & 1) ? base.Get() : nullptr;
            const bool plain = (flags & 2) != 0;
            VRefPtr<IFile> file = AdoptRef(space->RetainFile(text, folderBase, options, plain));
            CheckInside(file.Get());
            VRefPtr<IFolder> folder = AdoptRef(space->RetainFolder(text, folderBase, options, plain));
            CheckInside(folder.Get());
            VRefPtr<IFolder> loose =
                AdoptRef(VFileSystemNamespace::RetainFolder(nullptr, text, folderBase, options, plain));
            CheckInside(loose.Get());
        }
    }
    VJSONValue definitions;
    if (VJSONImporter::ParseString(text, definitions, 3) == VE_OK && definitions.IsArray()) {
        VRefPtr<VFileSystemNamespace> loaded = AdoptRef(new VFileSystemNamespace(space));
        loaded->LoadFromJSONArray(definitions.GetArray());
        VFileSystemMap map;
        loaded->RetainMapOfFileSystems(map);
        for (const auto& entry : map)
            fuzz::Check(!entry.first.IsEmpty() && entry.first.FindUniChar('/') == 0, "registered names are valid");
    }
    return 0;
}
