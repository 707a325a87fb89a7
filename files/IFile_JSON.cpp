// The file layer's JSON members and its safe replacement of a file's text.
#include <unistd.h>

#include <atomic>

#include "files/IFile.h"
#include "files/VFile.h"
#include "files/VFileDesc.h"
#include "json/VJSONImporter.h"
#include "json/VJSONWriter.h"
#include "runtime/VErrorContext.h"

namespace qelt {

VError IFile::GetContentAsJSON(VJSONValue& outValue, CharSet inCharSet) const
{
    VString text;
    VError error = GetContentAsString(text, inCharSet, eCRM_NONE);
    if (error != VE_OK)
        return error;
    VJSONImporter importer(text, kJSONImportStrictDates);
    return importer.Parse(outValue);
}

VError IFile::SetContentAsJSON(const VJSONValue& inValue, CharSet inCharSet, ECarriageReturnMode inMode,
                               bool inWithBOM) const
{
    VString text;
    VError error = inValue.Stringify(text, kJSONWriteQuoted);
    if (error != VE_OK)
        return error;
    return ReplaceContentWithString(text, inCharSet, inMode, inWithBOM);
}

VError IFile::ReplaceContentWithString(const VString& inText, CharSet inCharSet, ECarriageReturnMode inMode,
                                       bool inWithBOM) const
{
    const VFile* file = dynamic_cast<const VFile*>(this);
    if (file == nullptr)
        return SetContentAsString(inText, inCharSet, inMode, inWithBOM);
    // A new file beside the old one, hidden and unique to this process and
    // call, takes the text; only a complete copy is renamed over the old file.
    static std::atomic<unsigned> sCounter{0};
    VFilePath folder;
    file->GetPath().GetFolder(folder);
    VString name;
    file->GetPath().GetFileName(name, true);
    VString tempName(".");
    tempName.AppendString(name);
    tempName.AppendCString(".tmp-");
    tempName.AppendLong(static_cast<int>(::getpid()));
    tempName.AppendUniChar('-');
    tempName.AppendLong(static_cast<int>(sCounter.fetch_add(1)));
    VFile temp(VFilePath(folder, tempName, FPS_POSIX));
    VError error = temp.SetContentAsString(inText, inCharSet, inMode, inWithBOM);
    if (error == VE_OK)
        error = temp.Move(*file, kFileOptionReplace);
    if (error != VE_OK) {
        StErrorContextInstaller quiet(false, true);
        temp.Delete();
    }
    return error;
}

// ---------------------------------------------------------------------------
// The JSON side

VError VJSONImporter::ParseFile(IFile* inFile, VJSONValue& outValue, uint32_t inOptions)
{
    if (inFile == nullptr) {
        outValue.SetUndefined();
        return VE_OK;
    }
    VString path;
    inFile->GetPlatformPath(path, FPS_POSIX);
    VString text;
    VError error = inFile->GetContentAsString(text, VTC_UTF_8, eCRM_NONE);
    if (error != VE_OK)
        return error;
    VJSONImporter importer(text, inOptions);
    importer.fSource = path;
    return importer.Parse(outValue);
}

VError VJSONValue::LoadFromFile(IFile* inFile, bool inDetectDates)
{
    return VJSONImporter::ParseFile(inFile, *this, inDetectDates ? (kJSONImportBangDates | kJSONImportISODates) : 0);
}

VError VJSONWriter::StringifyValueToFile(IFile* inFile, const VJSONValue& inValue, unsigned int inFlags)
{
    if (inFile == nullptr)
        return VE_OK;
    VJSONWriter writer(inFlags);
    VString text;
    VError error = writer.StringifyValue(inValue, text);
    if (error != VE_OK)
        return error;
    return inFile->ReplaceContentWithString(text, VTC_UTF_8, eCRM_NONE, false);
}

VError VJSONValue::SaveToFile(IFile* inFile, unsigned int inFlags) const
{
    return VJSONWriter::StringifyValueToFile(inFile, *this, inFlags);
}

}  // namespace qelt
