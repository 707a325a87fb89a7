#include "json/VJSONPointerResolver.h"

#include <algorithm>
#include <cstdint>

#include "files/IFile.h"
#include "files/IFolder.h"
#include "files/VURL.h"
#include "json/VJSONArray.h"
#include "json/VJSONImporter.h"
#include "json/VJSONObject.h"
#include "json/VJSONPropertyIterator.h"
#include "runtime/VErrorBase.h"
#include "runtime/VErrorContext.h"
#include "values/VValueBag.h"

namespace qelt {

namespace {

UniChar kRefUnits[] = {'$', 'r', 'e', 'f', 0};

constexpr VError kErrorNotFound = QeltError(906);
constexpr VError kErrorBadPointer = QeltError(907);
constexpr VError kErrorCycle = QeltError(908);
constexpr VError kErrorRefused = QeltError(909);
constexpr VError kErrorNotContainer = QeltError(910);
constexpr VError kErrorNotJSON = QeltError(912);
constexpr VError kErrorNoDocument = QeltError(913);
constexpr VError kErrorTooDeep = QeltError(108);
constexpr VError kErrorOverBudget = QeltError(100);

// Documents are read with ISO dates, strictly, undefined on failure.
constexpr uint32_t kDocumentImportOptions = kJSONImportISODates | kJSONImportStrict | kJSONImportUndefinedOnError;
// Namespace lookups: public file systems, through the parents.
constexpr unsigned int kDocumentLookupOptions = kFileSystemPublicOnly | kFileSystemSearchParents;

const char* const kPointerURIName = "pointerURI";
const char* const kReferredPathName = "referredPath";

// The object's "$ref" text, when it is a string.
bool GetReferenceText(const VJSONObject* inObject, VString& outURI)
{
    VJSONValue ref = inObject->GetProperty(VJSONPointerResolver::sRefPropertyName);
    if (!ref.IsString())
        return false;
    ref.GetString(outURI);
    return true;
}

bool IsReference(const VJSONValue& inValue)
{
    VString ignored;
    return inValue.IsObject() && GetReferenceText(inValue.GetObject(), ignored);
}

// Whether resolution left the value as it was: only containers are ever
// replaced, so the same type and the same container means unchanged.
bool SameValue(const VJSONValue& inBefore, const VJSONValue& inAfter)
{
    return inBefore.GetType() == inAfter.GetType() && inBefore.GetObject() == inAfter.GetObject() &&
           inBefore.GetArray() == inAfter.GetArray();
}

// Keeps the depth count of a context for one level of recursion.
class StDepth {
public:
    explicit StDepth(VJSONPointerResolver::Context& ioContext) : fContext(ioContext) { ++fContext.fDepth; }
    ~StDepth() { --fContext.fDepth; }
    StDepth(const StDepth&) = delete;
    StDepth& operator=(const StDepth&) = delete;
    bool TooDeep() const { return fContext.fDepth > VJSONPointerResolver::kMaxDepth; }

private:
    VJSONPointerResolver::Context& fContext;
};

// Sets the context's current URI for the life of the holder.
class StCurrentURI {
public:
    StCurrentURI(VJSONPointerResolver::Context& ioContext, const VString& inURI)
        : fContext(ioContext), fSaved(ioContext.fCurrentURI)
    {
        fContext.fCurrentURI = inURI;
    }
    ~StCurrentURI() { fContext.fCurrentURI = fSaved; }
    StCurrentURI(const StCurrentURI&) = delete;
    StCurrentURI& operator=(const StCurrentURI&) = delete;

private:
    VJSONPointerResolver::Context& fContext;
    VString fSaved;
};

// The index a pointer step names on an array, or the error it makes: 907
// for an empty step, a leading zero or a non-digit, 909 for "-". An index
// too large for the machine is past every end.
VError ParseArrayIndex(const VString& inPart, size_t& outIndex)
{
    const int length = inPart.GetLength();
    const UniChar* units = inPart.GetCPointer();
    if (length == 0)
        return kErrorBadPointer;
    if (length == 1 && units[0] == '-')
        return kErrorRefused;
    if (units[0] == '0' && length > 1)
        return kErrorBadPointer;
    size_t index = 0;
    for (int i = 0; i < length; ++i) {
        if (units[i] < '0' || units[i] > '9')
            return kErrorBadPointer;
        const size_t digit = static_cast<size_t>(units[i] - '0');
        index = index > (SIZE_MAX - digit) / 10 ? SIZE_MAX : index * 10 + digit;
    }
    outIndex = index;
    return VE_OK;
}

}  // namespace

const VString VJSONPointerResolver::sRefPropertyName(kRefUnits, 4, sizeof(kRefUnits));

// ---------------------------------------------------------------------------
// File cache

VJSONFileCache::VJSONFileCache() = default;

VJSONFileCache::~VJSONFileCache() = default;

VJSONValue VJSONFileCache::GetValue(const VFilePath& inPath) const
{
    VString key;
    inPath.GetPosixPath(key);
    std::lock_guard<std::mutex> lock(fMutex);
    auto found = fValues.find(key);
    return found != fValues.end() ? found->second : VJSONValue();
}

void VJSONFileCache::SetValue(const VFilePath& inPath, const VJSONValue& inValue)
{
    VString key;
    inPath.GetPosixPath(key);
    std::lock_guard<std::mutex> lock(fMutex);
    if (inValue.IsUndefined())
        fValues.erase(key);
    else
        fValues.insert_or_assign(key, inValue);
}

// ---------------------------------------------------------------------------
// Resolver

VJSONPointerResolver::Context::Context(bool inPatch) : fPatch(inPatch) {}

VJSONPointerResolver::Context::~Context() = default;

VJSONPointerResolver::VJSONPointerResolver(const VJSONValue& inDocument, IFolder* inFolder,
                                           VFileSystemNamespace* inNamespace, VJSONFileCache* inCache)
    : fDocument(inDocument), fFolder(inFolder), fNamespace(inNamespace), fCache(inCache)
{
    if (fCache.Get() == nullptr)
        fCache = AdoptRef(new VJSONFileCache);
}

VJSONPointerResolver::VJSONPointerResolver(const VJSONValue& inDocument, IFolder* inFolder,
                                           VJSONPointerResolver* inReporter)
    : fDocument(inDocument),
      fFolder(inFolder),
      fNamespace(inReporter->fNamespace),
      fCache(inReporter->fCache),
      fReporter(inReporter->fReporter.Get() != nullptr ? inReporter->fReporter.Get() : inReporter)
{
}

VJSONPointerResolver::~VJSONPointerResolver() = default;

bool VJSONPointerResolver::ResolveOnePointer(VJSONObject* inReference, bool inNested, VJSONValue& outValue)
{
    if (inReference == nullptr) {
        outValue.SetUndefined();
        return false;
    }
    StErrorContextInstaller quiet(false, true);
    Context context(false);
    context.fNested = inNested;
    VJSONValue value(inReference);
    VRefPtr<VJSONPointerResolver> resolver;
    bool cycle = false;
    bool walk = false;
    const bool isReference = Resolve(context, value, resolver, cycle, walk);
    outValue = std::move(value);
    return isReference;
}

void VJSONPointerResolver::ResolveRecursively(VJSONValue& ioValue, bool inPatch,
                                              std::vector<VRefPtr<IFile>>* outFiles)
{
    StErrorContextInstaller quiet(false, true);
    Context context(inPatch);
    _ResolveRecursively(context, ioValue);
    // Targets in other documents are walked with their own resolver, which
    // may find further documents in turn.
    while (!context.fPending.empty()) {
        std::vector<std::pair<VRefPtr<VJSONPointerResolver>, VJSONValue>> pending;
        pending.swap(context.fPending);
        for (auto& [resolver, value] : pending)
            resolver->_ResolveRecursively(context, value);
    }
    if (outFiles != nullptr) {
        for (const auto& [path, file] : context.fFiles)
            outFiles->push_back(file);
    }
}

void VJSONPointerResolver::_ResolveRecursively(Context& ioContext, VJSONValue& ioValue)
{
    if ((!ioValue.IsObject() && !ioValue.IsArray()) || ioContext.fExhausted)
        return;
    StDepth depth(ioContext);
    if (depth.TooDeep()) {
        _NoteTooDeep(ioContext, ioContext.fCurrentURI);
        return;
    }
    VRefPtr<VJSONPointerResolver> resolver;
    bool cycle = false;
    bool walk = false;
    const bool wasReference = Resolve(ioContext, ioValue, resolver, cycle, walk);
    if (wasReference) {
        if (resolver.Get() == nullptr)
            return;
        if (resolver.Get() != this) {
            ioContext.fPending.emplace_back(resolver, ioValue);
            return;
        }
        // The target is walked in its own right, unless it was already: a
        // reference to an enclosing container must not walk it again.
        _ResolveRecursively(ioContext, ioValue);
        return;
    }
    if (walk)
        _WalkContents(ioContext, ioValue);
}

void VJSONPointerResolver::_WalkContents(Context& ioContext, const VJSONValue& inContainer)
{
    if (VJSONArray* array = inContainer.GetArray()) {
        for (size_t i = 0; i < array->GetCount(); ++i) {
            VJSONValue element;
            if (!array->GetAt(i, element))
                break;
            const VJSONValue before(element);
            _ResolveRecursively(ioContext, element);
            if (!SameValue(before, element))
                array->SetAt(i, element);
        }
        return;
    }
    VJSONObject* object = inContainer.GetObject();
    if (object == nullptr)
        return;
    // The members are listed first: storing back must not disturb the walk.
    std::vector<std::pair<VString, VJSONValue>> members;
    for (VJSONPropertyConstOrderedIterator it(object, kJSONIterOwnOnly); it.IsValid(); ++it)
        members.emplace_back(it.GetName(), it.GetValue());
    for (auto& [name, value] : members) {
        const VJSONValue before(value);
        _ResolveRecursively(ioContext, value);
        if (!SameValue(before, value) && !value.IsUndefined())
            object->SetProperty(name, value);
    }
}

bool VJSONPointerResolver::Resolve(Context& ioContext, VJSONValue& ioValue,
                                   VRefPtr<VJSONPointerResolver>& outResolver, bool& outCycle, bool& outWalk)
{
    outResolver = this;
    outCycle = false;
    outWalk = false;
    const void* address = ioValue.IsObject() ? static_cast<const void*>(ioValue.GetObject())
                                             : static_cast<const void*>(ioValue.GetArray());
    if (address == nullptr)
        return false;
    VJSONObject* object = ioValue.GetObject();
    if (object != nullptr &&
        std::find(ioContext.fStack.begin(), ioContext.fStack.end(), object) != ioContext.fStack.end()) {
        outCycle = true;
        return false;
    }
    // A container is walked once per job, so that shared and circular
    // structures end.
    if (!ioContext.fVisited.emplace(address, ioValue).second)
        return false;
    VString uri;
    if (object == nullptr || !GetReferenceText(object, uri)) {
        outWalk = true;
        return false;
    }

    VRefPtr<VJSONObject> reference(object);
    StDepth depth(ioContext);
    VJSONValue target;
    VRefPtr<VJSONPointerResolver> targetResolver;
    if (depth.TooDeep()) {
        _NoteTooDeep(ioContext, uri);
    } else if (_Spend(ioContext, 1, uri)) {
        ioContext.fStack.push_back(object);
        if (!ResolvePointerURI(ioContext, uri, target, targetResolver))
            target.SetUndefined();
        ioContext.fStack.pop_back();
    }
    if (target.IsUndefined()) {
        ioValue.SetUndefined();
        outResolver = nullptr;
    } else {
        if (ioContext.fPatch)
            PatchPointerValue(ioContext, object, target, ioValue);
        else
            ioValue = target;
        if (ioValue.IsUndefined())
            outResolver = nullptr;
        else
            outResolver = targetResolver;
    }
    if (ioValue.GetObject() != object)
        ioContext.fVisited.erase(object);
    outWalk = true;
    return true;
}

bool VJSONPointerResolver::ResolvePointerURI(Context& ioContext, const VString& inURI, VJSONValue& outValue,
                                             VRefPtr<VJSONPointerResolver>& outResolver)
{
    outValue.SetUndefined();
    outResolver = nullptr;
    VString documentPath;
    VString pointer;
    const int hash = inURI.FindUniChar('#');
    if (hash > 0) {
        inURI.GetSubString(1, hash - 1, documentPath);
        inURI.GetSubString(hash + 1, inURI.GetLength() - hash, pointer);
    } else {
        documentPath = inURI;
    }
    VURL::Decode(documentPath);
    VURL::Decode(pointer);
    documentPath.TrimUniChar(' ');

    static const VString kSchemes[] = {VString("http:"), VString("https:"), VString("file:")};
    for (const VString& scheme : kSchemes) {
        if (documentPath.BeginsWith(scheme, false)) {
            _ThrowURIError(ioContext, kErrorRefused, inURI);
            return false;
        }
    }

    VJSONValue document;
    VRefPtr<IFolder> folder;
    if (!LoadDocument(ioContext, inURI, documentPath, document, folder))
        return false;
    VRefPtr<VJSONPointerResolver> walker(this);
    if (!documentPath.IsEmpty())
        walker = AdoptRef(new VJSONPointerResolver(document, folder.Get(), this));

    StCurrentURI current(ioContext, inURI);
    VRefPtr<VJSONPointerResolver> documentResolver(walker);
    if (!documentResolver->_WalkPointer(ioContext, pointer, outValue, walker))
        return false;
    outResolver = walker;
    return true;
}

bool VJSONPointerResolver::LoadDocument(Context& ioContext, const VString& inURI, const VString& inDocumentPath,
                                        VJSONValue& outDocument, VRefPtr<IFolder>& outFolder)
{
    outDocument.SetUndefined();
    outFolder = nullptr;
    if (inDocumentPath.IsEmpty()) {
        outDocument = fDocument;
        outFolder = fFolder;
        return true;
    }

    // Relative paths are POSIX paths, as in any URI: "defs/a.json" names a
    // file of the folder "defs".
    VRefPtr<IFile> file;
    if (fNamespace.Get() != nullptr)
        file.Adopt(fNamespace->RetainFile(inDocumentPath, fFolder.Get(), kDocumentLookupOptions, false));
    else if (inDocumentPath.GetUniChar(1) != '/' && fFolder.Get() != nullptr)
        file.Adopt(fFolder->_RetainRelativeIFile(inDocumentPath, FPS_POSIX));
    if (file.Get() == nullptr) {
        _ThrowError(ioContext, kErrorNoDocument, inURI, kPointerURIName, inDocumentPath, kReferredPathName);
        return false;
    }

    VString path;
    file->GetPlatformPath(path, FPS_POSIX);
    ioContext.fFiles.emplace(path, file);

    const VFilePath filePath = file->GetPath();
    VJSONValue document = fCache->GetValue(filePath);
    if (document.IsUndefined()) {
        if (!file->Exists()) {
            _ThrowError(ioContext, kErrorNoDocument, inURI, kPointerURIName, path, kReferredPathName);
            return false;
        }
        VError error;
        {
            StErrorContextInstaller quiet(false, true);
            error = VJSONImporter::ParseFile(file.Get(), document, kDocumentImportOptions);
        }
        if (error != VE_OK || document.IsUndefined()) {
            _ThrowError(ioContext, kErrorNotJSON, inURI, kPointerURIName, path, kReferredPathName);
            return false;
        }
        fCache->SetValue(filePath, document);
    }
    outDocument = std::move(document);
    outFolder.Adopt(file->RetainParentFolder(false));
    return true;
}

bool VJSONPointerResolver::ResolvePointerString(Context& ioContext, const VString& inPointer, VJSONValue& outValue)
{
    // Called on its own, errors report the pointer as a same-document URI.
    VString uri(ioContext.fCurrentURI);
    if (uri.IsEmpty()) {
        uri.FromCString("#");
        uri.AppendString(inPointer);
    }
    StCurrentURI current(ioContext, uri);
    VRefPtr<VJSONPointerResolver> walker(this);
    return _WalkPointer(ioContext, inPointer, outValue, walker);
}

bool VJSONPointerResolver::_WalkPointer(Context& ioContext, const VString& inPointer, VJSONValue& outValue,
                                        VRefPtr<VJSONPointerResolver>& ioWalker)
{
    outValue = fDocument;
    const int length = inPointer.GetLength();
    if (length > 0) {
        if (inPointer.GetUniChar(1) != '/') {
            _ThrowURIError(ioContext, kErrorBadPointer, ioContext.fCurrentURI);
            outValue.SetUndefined();
            return false;
        }
        // Each part runs from after a '/' to the next '/' or the end.
        int start = 2;
        while (start <= length + 1) {
            int slash = inPointer.FindUniChar('/', start);
            if (slash == 0)
                slash = length + 1;
            VString part;
            inPointer.GetSubString(start, slash - start, part);
            VRefPtr<VJSONPointerResolver> current(ioWalker);
            if (!current->ResolveOnePart(ioContext, part, outValue, &ioWalker)) {
                outValue.SetUndefined();
                return false;
            }
            start = slash + 1;
        }
    }
    // A target that is itself a reference is followed too, so that a chain
    // of references ends at a value whatever order they are met in.
    if (ioContext.fNested && IsReference(outValue)) {
        VRefPtr<VJSONPointerResolver> current(ioWalker);
        if (!current->_FollowReference(ioContext, outValue, &ioWalker))
            return false;
    }
    return true;
}

bool VJSONPointerResolver::_FollowReference(Context& ioContext, VJSONValue& ioValue,
                                            VRefPtr<VJSONPointerResolver>* ioWalker)
{
    VRefPtr<VJSONPointerResolver> resolver;
    bool cycle = false;
    bool walk = false;
    Resolve(ioContext, ioValue, resolver, cycle, walk);
    if (cycle) {
        _ThrowURIError(ioContext, kErrorCycle, ioContext.fCurrentURI);
        ioValue.SetUndefined();
        return false;
    }
    // A failure was recorded where it happened.
    if (ioValue.IsUndefined())
        return false;
    if (ioWalker != nullptr && resolver.Get() != nullptr)
        *ioWalker = resolver;
    return true;
}

bool VJSONPointerResolver::ResolveOnePart(Context& ioContext, const VString& inPart, VJSONValue& ioValue,
                                          VRefPtr<VJSONPointerResolver>* ioWalker)
{
    if (!_Spend(ioContext, 1, ioContext.fCurrentURI)) {
        ioValue.SetUndefined();
        return false;
    }
    VString part(inPart);
    part.ExchangeRawString(VString("~1"), VString("/"));
    part.ExchangeRawString(VString("~0"), VString("~"));

    if (ioContext.fNested && IsReference(ioValue) && !_FollowReference(ioContext, ioValue, ioWalker))
        return false;

    VError error = VE_OK;
    if (VJSONArray* array = ioValue.GetArray()) {
        size_t index = 0;
        error = ParseArrayIndex(part, index);
        if (error == VE_OK) {
            VJSONValue element;
            if (index < array->GetCount() && array->GetAt(index, element) && !element.IsUndefined())
                ioValue = std::move(element);
            else
                error = kErrorNotFound;
        }
    } else if (VJSONObject* object = ioValue.GetObject()) {
        VJSONValue member = object->GetProperty(part);
        if (member.IsUndefined())
            error = kErrorNotFound;
        else
            ioValue = std::move(member);
    } else {
        error = kErrorNotContainer;
    }
    if (error != VE_OK) {
        _ThrowURIError(ioContext, error, ioContext.fCurrentURI);
        ioValue.SetUndefined();
        return false;
    }
    return true;
}

void VJSONPointerResolver::PatchPointerValue(Context& ioContext, const VJSONObject* inReference,
                                             const VJSONValue& inTarget, VJSONValue& outValue)
{
    const VJSONObject* target = inTarget.GetObject();
    std::vector<std::pair<VString, VJSONValue>> ownMembers;
    if (target != nullptr) {
        for (VJSONPropertyConstOrderedIterator it(inReference, 0); it.IsValid(); ++it) {
            if (!it.GetName().EqualToStringRaw(sRefPropertyName))
                ownMembers.emplace_back(it.GetName(), it.GetValue());
        }
    }
    if (ownMembers.empty()) {
        outValue = inTarget;
        return;
    }
    // The target's members first, then the reference's, which replace the
    // target's of the same name in place.
    std::vector<std::pair<VString, VJSONValue>> targetMembers;
    for (VJSONPropertyConstOrderedIterator it(target, 0); it.IsValid(); ++it)
        targetMembers.emplace_back(it.GetName(), it.GetValue());
    VString uri;
    GetReferenceText(inReference, uri);
    if (!_Spend(ioContext, 1 + targetMembers.size() + ownMembers.size(), uri)) {
        outValue.SetUndefined();
        return;
    }
    VRefPtr<VJSONObject> merged = AdoptRef(new VJSONObject());
    for (const auto& [name, value] : targetMembers)
        merged->SetProperty(name, value);
    for (const auto& [name, value] : ownMembers)
        merged->SetProperty(name, value);
    outValue.SetObject(merged.Get());
}

void VJSONPointerResolver::_ThrowError(Context& ioContext, VError inCode, const VString& inP1, const char* inP1Name,
                                       const VString& inP2, const char* inP2Name)
{
    if (inCode != VE_OK && _Spend(ioContext, kRecordCost, inP1))
        _Record(inCode, inP1, inP1Name, inP2, inP2Name);
}

void VJSONPointerResolver::_Record(VError inCode, const VString& inP1, const char* inP1Name, const VString& inP2,
                                   const char* inP2Name)
{
    if (fReporter.Get() != nullptr) {
        fReporter->_Record(inCode, inP1, inP1Name, inP2, inP2Name);
        return;
    }
    VRefPtr<VErrorBase> error = AdoptRef(new VErrorBase(inCode));
    if (inP1Name != nullptr)
        error->GetBag()->SetAttribute(StPackedDictionaryKey("p1"), inP1);
    if (inP2Name != nullptr)
        error->GetBag()->SetAttribute(StPackedDictionaryKey("p2"), inP2);
    VString message;
    error->GetErrorDescription(message);

    const OsType component = VErrorComponent(inCode);
    const char signature[5] = {static_cast<char>(component >> 24), static_cast<char>(component >> 16),
                               static_cast<char>(component >> 8), static_cast<char>(component), 0};
    VRefPtr<VJSONObject> record = AdoptRef(new VJSONObject());
    record->SetProperty(VString("code"), VJSONValue(static_cast<double>(VErrorNumber(inCode))));
    record->SetProperty(VString("component"), VJSONValue(VString(signature)));
    record->SetProperty(VString("message"), VJSONValue(message));
    if (inP1Name != nullptr)
        record->SetProperty(VString(inP1Name), VJSONValue(inP1));
    if (inP2Name != nullptr)
        record->SetProperty(VString(inP2Name), VJSONValue(inP2));
    if (fErrors.Get() == nullptr)
        fErrors = AdoptRef(new VJSONArray());
    fErrors->Push(VJSONValue(record.Get()));
}

bool VJSONPointerResolver::_Spend(Context& ioContext, size_t inCount, const VString& inURI)
{
    if (ioContext.fExhausted)
        return false;
    if (inCount <= kMaxNodes - ioContext.fNodes) {
        ioContext.fNodes += inCount;
        return true;
    }
    ioContext.fExhausted = true;
    _Record(kErrorOverBudget, inURI, kPointerURIName, VString(), nullptr);
    return false;
}

void VJSONPointerResolver::_NoteTooDeep(Context& ioContext, const VString& inURI)
{
    if (ioContext.fTooDeep)
        return;
    ioContext.fTooDeep = true;
    _Record(kErrorTooDeep, inURI, kPointerURIName, VString(), nullptr);
}

void VJSONPointerResolver::_ThrowURIError(Context& ioContext, VError inCode, const VString& inURI)
{
    _ThrowError(ioContext, inCode, inURI, kPointerURIName, VString(), nullptr);
}

}  // namespace qelt
