// "$ref" resolution. An object whose property "$ref" is a string such as
// "other.json#/definitions/a" refers to the value at the JSON Pointer
// /definitions/a of the document other.json; "#/a" refers to a place in the
// same document. A resolver holds one document, the folder its relative
// document paths start from, an optional file-system namespace and a file
// cache shared by the resolvers of one job.
//
// Failures never stop the work: each one is recorded as an error record in
// the resolver's error array ({"code", "component", "message", "pointerURI"
// and, for 912 and 913, "referredPath"}), the reference concerned becomes
// undefined and resolution goes on. Nothing is pushed on the task's error
// stack. Codes ('qelt'): 906 nothing at the place named, 907 a malformed
// pointer step, 908 a cycle of references, 909 a remote URI or the step "-"
// on an array, 910 a step into a value that is no container, 912 a document
// that is not JSON, 913 a document not found, 108 references or containers
// nested deeper than the text importer's limit (once per job), 100 a
// resolution that would make or follow more than kMaxNodes values.
//
// A resolver and its contexts serve one task.
#pragma once

#include <cstddef>
#include <map>
#include <mutex>
#include <unordered_map>
#include <utility>
#include <vector>

#include "files/VFilePath.h"
#include "files/VFileSystemNamespace.h"
#include "json/VJSONValue.h"
#include "kernel/IRefCountable.h"
#include "kernel/VObject.h"
#include "kernel/VString.h"

namespace qelt {

class IFile;
class IFolder;
class VJSONArray;
class VJSONObject;

// The documents read by the resolvers of one job, by the POSIX path of
// their file. Paths compare exactly, unit for unit: "a.json" and "A.json"
// are two files.
class VJSONFileCache : public VObject, public IRefCountable {
public:
    VJSONFileCache();

    VJSONFileCache(const VJSONFileCache&) = delete;
    VJSONFileCache& operator=(const VJSONFileCache&) = delete;

    // A copy of the value cached for the file at that path, or undefined.
    VJSONValue GetValue(const VFilePath& inPath) const;
    // Stores the value for the path; an undefined value removes the entry.
    void SetValue(const VFilePath& inPath, const VJSONValue& inValue);

private:
    ~VJSONFileCache() override;

    mutable std::mutex fMutex;
    std::map<VString, VJSONValue, VFileSystemNameLess> fValues;
};

class VJSONPointerResolver : public VObject, public IRefCountable {
public:
    // The state of one resolution job, kept on the caller's stack.
    class Context {
    public:
        explicit Context(bool inPatch);
        ~Context();

        Context(const Context&) = delete;
        Context& operator=(const Context&) = delete;

        // Objects and arrays whose contents are walked already, by address;
        // each is held, so that no address is taken by another container
        // during the job.
        std::unordered_map<const void*, VJSONValue> fVisited;
        // The "$ref" objects being resolved, innermost last: meeting one
        // again is a cycle.
        std::vector<const VJSONObject*> fStack;
        // Targets that lie in another document, walked later with the
        // resolver of that document.
        std::vector<std::pair<VRefPtr<VJSONPointerResolver>, VJSONValue>> fPending;
        // The files read, by their POSIX path.
        std::map<VString, VRefPtr<IFile>, VFileSystemNameLess> fFiles;
        // Whether a "$ref" object with members of its own is merged with an
        // object target (ResolveRecursively), rather than replaced by it.
        bool fPatch;
        // Whether a "$ref" object met while walking a pointer is resolved
        // first, so that a pointer may pass through references.
        bool fNested = true;
        // The URI that pointer errors report.
        VString fCurrentURI;
        // Nesting of containers and references being resolved.
        int fDepth = 0;
        // Values made (merged objects and their members) and references and
        // pointer steps followed so far; past kMaxNodes the job stops.
        size_t fNodes = 0;
        // Whether the job ran out of its budget: nothing more is resolved.
        bool fExhausted = false;
        // Whether 108 was recorded: a job records it once, however many
        // places reach the limit.
        bool fTooDeep = false;
    };

    // References and containers nest at most this deep in one resolution
    // (the text importer's limit); deeper ones are recorded as 108.
    static constexpr int kMaxDepth = 512;
    // One job makes and follows at most this many values. References with
    // members of their own that refer to an enclosing object can make each
    // level of a document twice as large as the one above it; the budget
    // bounds the work by a fixed amount instead of by the nesting. Past it,
    // 100 is recorded once, and the rest of the job changes nothing more.
    static constexpr size_t kMaxNodes = 100000;
    // An error record, with its message, costs as much of the budget as
    // this many values made.
    static constexpr size_t kRecordCost = 16;

    // "$ref".
    static const VString sRefPropertyName;

    // Takes one reference to each object given; without a cache, a new
    // empty one is made.
    VJSONPointerResolver(const VJSONValue& inDocument, IFolder* inFolder, VFileSystemNamespace* inNamespace,
                         VJSONFileCache* inCache);

    VJSONPointerResolver(const VJSONPointerResolver&) = delete;
    VJSONPointerResolver& operator=(const VJSONPointerResolver&) = delete;

    // Resolves one "$ref" object against this resolver's document; errors
    // raised meanwhile stay away from the caller. outValue receives what the
    // reference designates, undefined on failure (the object itself when it
    // is no reference). True when the object is a reference (its "$ref" a
    // string). The URI is URL-decoded as any "$ref" is.
    bool ResolveOnePointer(VJSONObject* inReference, bool inNested, VJSONValue& outValue);

    // Replaces every reference found in the value, following references
    // into other documents; with inPatch, a "$ref" object's own members are
    // merged over an object target. outFiles, when given, receives every
    // file read.
    void ResolveRecursively(VJSONValue& ioValue, bool inPatch, std::vector<VRefPtr<IFile>>* outFiles);

    // Walks a plain JSON Pointer (RFC 6901: the text after '#', "" or
    // beginning with '/') over this resolver's document: each step is
    // unescaped ("~1" to "/", then "~0" to "~") and names a property, or a
    // decimal index without leading zero on an array. Nothing is URL-decoded
    // or composed. With ioContext.fNested false no "$ref" is followed, so
    // the walk only reads. outValue receives the value designated (the whole
    // document for ""), undefined on failure, which is recorded (906, 907,
    // 909, 910); answers whether the walk succeeded.
    bool ResolvePointerString(Context& ioContext, const VString& inPointer, VJSONValue& outValue);

    // The error records, in the order of the failures; null while nothing
    // failed. Records of the documents reached from this one land here too.
    const VJSONArray* GetErrors() const { return fErrors.Get(); }

    const VJSONValue& GetDocument() const { return fDocument; }
    IFolder* GetFolder() const { return fFolder.Get(); }
    VJSONFileCache* GetCache() const { return fCache.Get(); }

    // Resolves one value that may be replaced: a "$ref" object becomes its
    // target (patched with the "$ref" object's members under the patch
    // flag), undefined on failure. outResolver receives the resolver to
    // walk the result with (null on failure), outCycle whether the object
    // is a reference being resolved already, outWalk whether the result's
    // contents are to be walked. True when the value was a reference.
    bool Resolve(Context& ioContext, VJSONValue& ioValue, VRefPtr<VJSONPointerResolver>& outResolver,
                 bool& outCycle, bool& outWalk);
    // Resolves a "$ref" text: the document path before '#' and the pointer
    // after it, both URL-decoded. outResolver receives the resolver of the
    // target's document.
    bool ResolvePointerURI(Context& ioContext, const VString& inURI, VJSONValue& outValue,
                           VRefPtr<VJSONPointerResolver>& outResolver);
    // Finds and reads the document (this one for an empty path), through
    // the cache; outFolder receives the folder of the document's own
    // references.
    bool LoadDocument(Context& ioContext, const VString& inURI, const VString& inDocumentPath,
                      VJSONValue& outDocument, VRefPtr<IFolder>& outFolder);
    // Applies one pointer step (still escaped) to ioValue. When a reference
    // met on the way (nested flag) leads into another document, *ioWalker,
    // when given, becomes the resolver of that document, which takes the
    // following steps.
    bool ResolveOnePart(Context& ioContext, const VString& inPart, VJSONValue& ioValue,
                        VRefPtr<VJSONPointerResolver>* ioWalker = nullptr);
    // Under the patch flag: an object target with the "$ref" object's other
    // members set over its own, as a new object.
    void PatchPointerValue(Context& ioContext, const VJSONObject* inReference, const VJSONValue& inTarget,
                           VJSONValue& outValue);

protected:
    ~VJSONPointerResolver() override;

private:
    // A resolver of a document reached from this one: its records go to
    // inReporter's error array.
    VJSONPointerResolver(const VJSONValue& inDocument, IFolder* inFolder, VJSONPointerResolver* inReporter);

    void _ResolveRecursively(Context& ioContext, VJSONValue& ioValue);
    // The pointer walk; ioWalker (this resolver on entry) ends as the
    // resolver of the document the result lies in.
    bool _WalkPointer(Context& ioContext, const VString& inPointer, VJSONValue& outValue,
                      VRefPtr<VJSONPointerResolver>& ioWalker);
    // A "$ref" object met by a walk is resolved before the walk goes on
    // (nested flag); false, with the value undefined, when that fails.
    bool _FollowReference(Context& ioContext, VJSONValue& ioValue, VRefPtr<VJSONPointerResolver>* ioWalker);
    // Counts inCount values made or followed; false, with 100 recorded for
    // the URI the first time, when the job is over its budget.
    bool _Spend(Context& ioContext, size_t inCount, const VString& inURI);
    // Records 108 for the URI, once per job; the place concerned is left
    // as it is.
    void _NoteTooDeep(Context& ioContext, const VString& inURI);
    // Walks the contents of a container with this resolver.
    void _WalkContents(Context& ioContext, const VJSONValue& inContainer);
    // Records an error, paid for from the job's budget; a name left null
    // leaves its property out.
    void _ThrowError(Context& ioContext, VError inCode, const VString& inP1, const char* inP1Name,
                     const VString& inP2, const char* inP2Name);
    // Records an error with "pointerURI" = the URI.
    void _ThrowURIError(Context& ioContext, VError inCode, const VString& inURI);
    // Appends the error record to the reporting resolver's array.
    void _Record(VError inCode, const VString& inP1, const char* inP1Name, const VString& inP2,
                 const char* inP2Name);

    VJSONValue fDocument;
    VRefPtr<IFolder> fFolder;
    VRefPtr<VFileSystemNamespace> fNamespace;
    VRefPtr<VJSONFileCache> fCache;
    VRefPtr<VJSONArray> fErrors;
    // The resolver whose error array receives this one's records; null for
    // the resolver a caller made.
    VRefPtr<VJSONPointerResolver> fReporter;
};

}  // namespace qelt
