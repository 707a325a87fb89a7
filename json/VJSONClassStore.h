// A named, thread-safe registry of JSON classes: class names to class
// objects, the visible ones apart, and other stores named as components.
// An object backed by a store reads every class as a property.
#pragma once

#include <unordered_map>
#include <vector>

#include "json/IJSONObject.h"
#include "json/VJSONClass.h"
#include "json/VJSONObject.h"
#include "kernel/VObject.h"
#include "kernel/VString.h"
#include "runtime/VCriticalSection.h"

namespace qelt {

class IFile;
class VJSONClassStore;

using VJSONClassMap =
    std::unordered_map<VString, VRefPtr<VJSONObject>, VJSONPropertyNameHash, VJSONPropertyNameEqual>;
using VJSONComponentMap =
    std::unordered_map<VString, VRefPtr<VJSONClassStore>, VJSONPropertyNameHash, VJSONPropertyNameEqual>;
using VJSONClassFileMap =
    std::unordered_map<VString, VRefPtr<IFile>, VJSONPropertyNameHash, VJSONPropertyNameEqual>;

class VJSONClassStore : public VObject, public IJSONObject {
public:
    explicit VJSONClassStore(const VString& inName);

    // The root classes "Object", "Class" and "Function".
    void AddRootClasses();
    // Flag bit 0: hidden (not listed). A null object or one that is not a
    // class is ignored.
    void AddClass(VJSONObject* inClassObject, uint32_t inFlags);
    VRefPtr<VJSONObject> AddClass(const VString& inName, const std::vector<VJSONClass::FunctionDescriptor>& inFunctions,
                                  VJSONObject* inSuperclassObject, JSONMemberFunctionPtr inConstructor,
                                  JSONInstantiatorPtr inInstantiator, uint32_t inFlags);
    // Keeps the first store recorded under a name.
    void AddComponentClass(const VString& inName, VJSONClassStore* inStore);

    VRefPtr<VJSONObject> GetClassObject(const VString& inName, bool inIgnoreCase) const;
    VRefPtr<VJSONObject> GetVisibleClassObject(const VString& inName, bool inIgnoreCase) const;
    static bool EqualClassName(const VString& inA, const VString& inB, bool inIgnoreCase);
    void GetClasses(VJSONClassMap& outClasses) const;
    void GetVisibleClasses(VJSONClassMap& outClasses) const;
    void GetVisibleComponents(VJSONComponentMap& outComponents) const;
    VRefPtr<VJSONClassStore> GetComponentClassStore(const VString& inName) const;
    size_t GetCount() const;
    void RemoveObsoleteClasses(const VJSONClassFileMap& inClassFiles, std::vector<VString>& outRemovedNames);

    const VString& GetName() const { return fName; }
    VJSONObject* GetObjectClassObject() const { return fObjectClass; }
    VJSONObject* GetClassClassObject() const { return fClassClass; }
    VJSONObject* GetFunctionClassObject() const { return fFunctionClass; }

    // Breaks the reference cycles between the store's classes (the root
    // classes are objects of their own "Class" class) and empties the store;
    // the owner calls it before its last release.
    void TearDown();

    EJSONStatus IJSON_GetProperty(const VJSONObject* inObject, const VString& inName, VJSONValue& outValue,
                                  VDBLanguageContext* inContext) const override;
    EJSONStatus IJSON_SetProperty(VJSONObject* inObject, const VString& inName, const VJSONValue& inValue,
                                  VDBLanguageContext* inContext) override;
    bool IJSON_Clear(VJSONObject* inObject) override;
    bool IJSON_IsEmpty(const VJSONObject* inObject) const override;
    EJSONStatus IJSON_Stringify(const VJSONObject* inObject, VJSONWriter& inWriter, VString& outText,
                                uint64_t* outError) const override;
    EJSONStatus IJSON_GetPropertyNames(std::vector<VString>& outNames) const override;
    EJSONStatus IJSON_GetDescription(const VJSONObject* inObject, VString& outDescription) const override;

protected:
    ~VJSONClassStore() override;

private:
    static VRefPtr<VJSONObject> _Find(const VJSONClassMap& inMap, const VString& inName, bool inIgnoreCase);
    static void _Put(VJSONClassMap& ioMap, const VString& inName, VJSONObject* inClassObject);

    mutable VCriticalSection fLock;
    VString fName;
    VJSONClassMap fClasses;
    VJSONClassMap fVisibleClasses;
    VJSONComponentMap fComponents;
    VJSONObject* fObjectClass = nullptr;
    VJSONObject* fClassClass = nullptr;
    VJSONObject* fFunctionClass = nullptr;
};

}  // namespace qelt
