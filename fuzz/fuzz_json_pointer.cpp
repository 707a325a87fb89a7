// The "$ref" resolver over any JSON text: the whole document resolved
// recursively, one reference resolved on its own, and a plain pointer walk.
// Every failure must be an error record of a known code, never a crash, a
// hang or a raised error.
//
// The first byte picks the options (0x1 patch, 0x2 nested walk of the single
// reference, 0x4 a folder of two documents to refer to); the text up to the
// first line end is the pointer URI, the rest the JSON document.
#include <cstdio>
#include <cstdlib>
#include <string>

#include "files/VFolder.h"
#include "fuzz/FuzzSupport.h"
#include "json/json.h"

using namespace qelt;

namespace {

// A folder with a document full of references and one that is not JSON.
const std::string& DocumentFolder()
{
    static bool sWritten = false;
    const std::string& folder = fuzz::ScratchFolder();
    if (!sWritten) {
        sWritten = true;
        const char* documents[][2] = {
            {"/other.json", "{\"a\":{\"$ref\":\"#/b\"},\"b\":[1,{\"$ref\":\"#\"}],\"c\":{\"$ref\":\"bad.json\"}}"},
            {"/bad.json", "{\"a\":"}};
        for (const auto& document : documents) {
            FILE* file = std::fopen((folder + document[0]).c_str(), "w");
            if (file == nullptr)
                std::abort();
            std::fputs(document[1], file);
            std::fclose(file);
        }
    }
    return folder;
}

void CheckRecords(const VJSONPointerResolver& inResolver)
{
    const VJSONArray* errors = inResolver.GetErrors();
    if (errors == nullptr)
        return;
    for (size_t i = 0; i < errors->GetCount(); ++i) {
        const int code = static_cast<int>(errors->GetAt(i).GetProperty(VString("code")).GetNumber());
        fuzz::Check(code == 100 || code == 108 || (code >= 906 && code <= 913), "every failure is a resolver error record");
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    fuzz::Setup();
    fuzz::Scope scope;
    fuzz::Bytes bytes(data, size);
    const uint8_t pick = bytes.Byte();
    const std::string rest = bytes.Rest();
    const size_t lineEnd = rest.find('\n');
    const std::string uri = rest.substr(0, lineEnd);
    const std::string text = lineEnd == std::string::npos ? std::string() : rest.substr(lineEnd + 1);

    VJSONValue document(JSON_undefined);
    VJSONImporter::ParseString(VString(text.data(), static_cast<unsigned long>(text.size()), VTC_UTF_8), document, 0);
    VRefPtr<VFolder> folder;
    if ((pick & 0x4) != 0)
        folder = AdoptRef(new VFolder(VString((DocumentFolder() + "/").c_str()), FPS_POSIX));
    VRefPtr<VJSONPointerResolver> resolver =
        AdoptRef(new VJSONPointerResolver(document, folder.Get(), nullptr, nullptr));
    const VString uriText(uri.data(), static_cast<unsigned long>(uri.size()), VTC_UTF_8);

    VRefPtr<VJSONObject> reference = AdoptRef(new VJSONObject());
    reference->SetProperty(VJSONPointerResolver::sRefPropertyName, VJSONValue(uriText));
    VJSONValue one;
    resolver->ResolveOnePointer(reference.Get(), (pick & 0x2) != 0, one);

    VJSONPointerResolver::Context context(false);
    context.fNested = false;
    VJSONValue walked;
    const bool found = resolver->ResolvePointerString(context, uriText, walked);
    if (!document.IsUndefined())
        fuzz::Check(found != walked.IsUndefined(), "a walk succeeds exactly when it designates a value");

    VJSONValue whole(document);
    resolver->ResolveRecursively(whole, (pick & 0x1) != 0, nullptr);
    CheckRecords(*resolver);
    VString written;
    whole.Stringify(written, 0x2001);
    return 0;
}
