// JSON classes: a class stands behind a class object (a shared JSON object
// whose implementation is the class) and holds its prototype, its member
// functions, its attribute getters and setters, an optional constructor and
// an instantiator. Member functions are native function pointers behind
// function objects of the root class "Function".
#pragma once

#include <atomic>
#include <cstdint>
#include <unordered_map>
#include <utility>
#include <vector>

#include "json/IJSONFunctionContext.h"
#include "json/IJSONObject.h"
#include "json/VJSONObject.h"
#include "kernel/VObject.h"
#include "kernel/VString.h"
#include "values/VTime.h"

namespace qelt {

class IFile;

using JSONMemberFunctionPtr = EJSONStatus (*)(const VJSONObject* inThisObject, IJSONFunctionContext* inContext);
using JSONInstantiatorPtr = VJSONObject* (*)(VJSONObject* inClassObject, IJSONFunctionContext* inContext);

// Names to function objects (not held).
using VJSONFunctionMap = std::unordered_map<VString, VJSONObject*, VJSONPropertyNameHash, VJSONPropertyNameEqual>;

class VJSONClass : public VObject, public IJSONObject {
public:
    struct FunctionDescriptor {
        VString fName;
        JSONMemberFunctionPtr fFunction = nullptr;
        uint32_t fFlags = 0;  // bit 0 final, bit 1 hidden
    };
    using FunctionPair = std::pair<VString, VRefPtr<VJSONObject>>;

    VJSONClass(const VString& inName, VJSONObject* inSuperclassObject, int32_t inLevel, IFile* inFile,
               const VString& inComponentName, uint32_t inFlags);

    // The class with its class object (one reference for the caller), or
    // null ('VqRT' -10747 when the superclass object is not a class). A null
    // superclass means the root "Object" class, when it exists.
    static VJSONObject* Create(const VString& inName, VJSONObject* inSuperclassObject, IFile* inFile,
                               const VString& inComponentName, uint32_t inFlags);
    static VJSONObject* Create(const VString& inName, const std::vector<FunctionDescriptor>& inFunctions,
                               VJSONObject* inSuperclassObject, JSONMemberFunctionPtr inConstructor,
                               JSONInstantiatorPtr inInstantiator, const VString& inComponentName, uint32_t inFlags);

    // Only the first call has an effect.
    void SetFunctions(const std::vector<FunctionDescriptor>& inFunctions, JSONMemberFunctionPtr inConstructor,
                      JSONInstantiatorPtr inInstantiator);
    void SetFunctions(const std::vector<FunctionPair>& inFunctions, VJSONObject* inConstructor,
                      JSONInstantiatorPtr inInstantiator);

    void GetGetterNames(std::vector<VString>& ioNames) const;
    static bool IsFunctionHidden(const VJSONObject* inFunction);
    static VJSONObject* GenericInstantiator(VJSONObject* inClassObject, IJSONFunctionContext* inContext);
    VJSONObject* CreateInstance(VJSONObject* inClassObject, IJSONFunctionContext* inContext);
    void ConstructInstance(VJSONObject* inObject, IJSONFunctionContext* inContext);
    EJSONStatus CallConstructor(VJSONObject* inObject, IJSONFunctionContext* inContext);
    static EJSONStatus CallSuperConstructor(IJSONFunctionContext* inContext);
    static VError FinalizeInstance(VJSONObject* inObject);
    bool IsObsolete() const;

    void UseClassObject();
    void UnuseClassObject();

    static EJSONStatus do_new(const VJSONObject* inThisObject, IJSONFunctionContext* inContext);
    static EJSONStatus do_errorReadOnlyAttribute(const VJSONObject* inThisObject, IJSONFunctionContext* inContext);
    static EJSONStatus do_errorWriteOnlyAttribute(const VJSONObject* inThisObject, IJSONFunctionContext* inContext);
    static EJSONStatus do_errorOverridingFinalFunction(const VJSONObject* inThisObject,
                                                       IJSONFunctionContext* inContext);

    // ---- Accessors ------------------------------------------------------
    const VString& GetName() const { return fName; }
    // The name of the store the class belongs to (empty when none was given).
    const VString& GetComponentName() const { return fComponentName; }
    VJSONObject* GetClassObject() const { return fClassObject; }
    void SetClassObject(VJSONObject* inObject) { fClassObject = inObject; }
    VJSONClass* GetSuperclass() const { return fSuperclass; }
    VJSONObject* GetPrototype() const { return fPrototype.Get(); }
    int32_t GetLevel() const { return fLevel; }
    uint32_t GetID() const { return fID; }
    bool HasFunctionsSet() const { return fFunctionsSet; }
    IFile* GetFile() const { return fFile.Get(); }
    const VJSONFunctionMap& GetFunctionMap() const { return fFunctions; }
    const VJSONFunctionMap& GetGetterMap() const { return fGetters; }
    const VJSONFunctionMap& GetSetterMap() const { return fSetters; }
    bool HasConstructor() const { return fConstructor.Get() != nullptr; }
    uint32_t GetUseCount() const { return fUseCount.load(); }

    // Drops every reference the class holds to function objects, its
    // prototype and its superclass, so that a store being torn down frees
    // the cycles between its classes.
    void _TearDown();

    // ---- IJSONObject (called with the class object) -----------------------
    EJSONStatus IJSON_GetProperty(const VJSONObject* inObject, const VString& inName, VJSONValue& outValue,
                                  VDBLanguageContext* inContext) const override;
    EJSONStatus IJSON_SetProperty(VJSONObject* inObject, const VString& inName, const VJSONValue& inValue,
                                  VDBLanguageContext* inContext) override;
    EJSONStatus IJSON_RemoveProperty(VJSONObject* inObject, const VString& inName) override;
    EJSONStatus IJSON_Clone(const VJSONObject* inObject, VJSONCloner& inCloner, VJSONValue& outClone,
                            uint64_t* outError) const override;
    EJSONStatus IJSON_GetPropertyNames(std::vector<VString>& outNames) const override;
    EJSONStatus IJSON_GetDescription(const VJSONObject* inObject, VString& outDescription) const override;

    // The implementation of a class object as a class, or null.
    static VJSONClass* FromClassObject(const VJSONObject* inObject);

    // Class-definition keys.
    static const VString sClassProperty_name;
    static const VString sClassProperty_superclass;
    static const VString sClassProperty_prototype;
    static const VString sClassProperty_file;
    static const VString sClassFunction_new;
    static const VString sFunctionProperty_final;
    static const VString sClassProperty_id;
    static const VString sFunctionProperty_hidden;
    static const VString sFunctionProperty_local;
    static const VString sFunctionProperty_exposed;
    static const VString sFunctionProperty_eventName;
    static const VString sFunctionProperty_resultType;
    static const VString sFunctionProperty_resultTypeCode;
    static const VString sFunctionProperty_resultClass;
    static const VString sClassProperty_aliases;
    static const VString sAliasProperty_name;
    static const VString sAliasProperty_path;
    static const VString sClassProperty_properties;

protected:
    ~VJSONClass() override;

private:
    static bool _IsReservedName(const VString& inName);
    void _AddAttribute(VRefPtr<VJSONObject>& ioHolder, VJSONFunctionMap& ioMap, const VString& inAttribute,
                       VJSONObject* inFunction);

    VString fName;
    VString fComponentName;
    VJSONObject* fClassObject = nullptr;
    VJSONClass* fSuperclass = nullptr;
    VRefPtr<VJSONObject> fSuperclassObject;
    VRefPtr<VJSONObject> fPrototype;
    VRefPtr<VJSONObject> fGettersObject;
    VRefPtr<VJSONObject> fSettersObject;
    VRefPtr<VJSONObject> fConstructor;
    JSONInstantiatorPtr fInstantiator = nullptr;
    VJSONFunctionMap fFunctions;
    VJSONFunctionMap fGetters;
    VJSONFunctionMap fSetters;
    VRefPtr<VJSONObject> fReadOnlySetter;
    VRefPtr<VJSONObject> fWriteOnlyGetter;
    int32_t fLevel = 0;
    uint32_t fID = 0;
    VRefPtr<IFile> fFile;
    VTime fTimeStamp;
    bool fFunctionsSet = false;
    uint32_t fFlags = 0;
    std::atomic<uint32_t> fUseCount{0};
};

class VJSONMemberFunction : public VObject, public IJSONObject {
public:
    VJSONMemberFunction(JSONMemberFunctionPtr inFunction, const VString& inName, VJSONClass* inOwner);

    // A function named owner name + "." + name behind a new shared object of
    // the root class "Function" (one reference for the caller). Flag bit 0
    // writes "final" = true on it, bit 1 "__hidden" = true.
    static VJSONObject* Create(JSONMemberFunctionPtr inFunction, const VString& inName, VJSONClass* inOwner,
                               uint32_t inFlags);

    static EJSONStatus do_apply(const VJSONObject* inThisObject, IJSONFunctionContext* inContext);
    static EJSONStatus do_call(const VJSONObject* inThisObject, IJSONFunctionContext* inContext);

    const VString& GetName() const { return fName; }
    void _ClearOwner() { fOwner = nullptr; }

    EJSONStatus IJSON_GetProperty(const VJSONObject* inObject, const VString& inName, VJSONValue& outValue,
                                  VDBLanguageContext* inContext) const override;
    EJSONStatus IJSON_SetProperty(VJSONObject* inObject, const VString& inName, const VJSONValue& inValue,
                                  VDBLanguageContext* inContext) override;
    EJSONStatus IJSON_RemoveProperty(VJSONObject* inObject, const VString& inName) override;
    bool IJSON_Clear(VJSONObject* inObject) override;
    bool IJSON_IsEmpty(const VJSONObject* inObject) const override;
    EJSONStatus IJSON_Stringify(const VJSONObject* inObject, VJSONWriter& inWriter, VString& outText,
                                uint64_t* outError) const override;
    EJSONStatus IJSON_Clone(const VJSONObject* inObject, VJSONCloner& inCloner, VJSONValue& outClone,
                            uint64_t* outError) const override;
    EJSONStatus IJSON_GetPropertyNames(std::vector<VString>& outNames) const override;
    EJSONStatus IJSON_GetDescription(const VJSONObject* inObject, VString& outDescription) const override;
    EJSONStatus IJSON_CallAsFunction(const VJSONObject* inFunction, IJSONFunctionContext* inContext) override;
    VJSONClass* IJSON_GetFunctionClassOwner(const VJSONObject* inFunction) const override;

private:
    JSONMemberFunctionPtr fFunction;
    VString fName;
    VJSONClass* fOwner;
};

// The object through which native code reaches the members of the
// superclass of the class whose function is running.
class VJSONSuper : public VObject, public IJSONObject {
public:
    static VJSONObject* CreateObject();

    EJSONStatus IJSON_GetProperty(const VJSONObject* inObject, const VString& inName, VJSONValue& outValue,
                                  VDBLanguageContext* inContext) const override;
    EJSONStatus IJSON_SetProperty(VJSONObject* inObject, const VString& inName, const VJSONValue& inValue,
                                  VDBLanguageContext* inContext) override;
    EJSONStatus IJSON_RemoveProperty(VJSONObject* inObject, const VString& inName) override;
    EJSONStatus IJSON_Clone(const VJSONObject* inObject, VJSONCloner& inCloner, VJSONValue& outClone,
                            uint64_t* outError) const override;
    EJSONStatus IJSON_GetDescription(const VJSONObject* inObject, VString& outDescription) const override;
};

class VJSONSuperMember : public VObject, public IJSONObject {
public:
    explicit VJSONSuperMember(const VString& inName) : fName(inName) {}
    static VJSONObject* CreateObject(const VString& inName);

    EJSONStatus IJSON_SetProperty(VJSONObject* inObject, const VString& inName, const VJSONValue& inValue,
                                  VDBLanguageContext* inContext) override;
    EJSONStatus IJSON_RemoveProperty(VJSONObject* inObject, const VString& inName) override;
    EJSONStatus IJSON_Clone(const VJSONObject* inObject, VJSONCloner& inCloner, VJSONValue& outClone,
                            uint64_t* outError) const override;
    EJSONStatus IJSON_GetDescription(const VJSONObject* inObject, VString& outDescription) const override;
    EJSONStatus IJSON_CallAsFunction(const VJSONObject* inFunction, IJSONFunctionContext* inContext) override;

private:
    VString fName;
};

}  // namespace qelt
