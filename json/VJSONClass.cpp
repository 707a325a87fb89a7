#include "json/VJSONClass.h"

#include "files/IFile.h"
#include "json/VJSONArray.h"
#include "json/VJSONClassStore.h"
#include "json/VJSONCloner.h"
#include "json/VJSONFunctionContext.h"
#include "json/VJSONUser.h"
#include "json/VStorageLocker.h"
#include "json/VProcessServices_json.h"
#include "runtime/VErrorBase.h"
#include "runtime/VErrorContext.h"

namespace qelt {

namespace {

constexpr int kErrorReservedProperty = -10702;
constexpr int kErrorStoreWrite = -10705;
constexpr int kErrorNotCallableMember = -10707;
constexpr int kErrorNotCallable = -10729;
constexpr int kErrorNoScopeClass = -10736;
constexpr int kErrorSuperConstructor = -10746;
constexpr int kErrorSuperclassNotAClass = -10747;
constexpr int kErrorSuperNotConstructed = -10748;
constexpr int kErrorNoInstantiator = -10749;
constexpr int kErrorFinalFunction = -10750;
constexpr int kErrorFinalizeWithConstructor = -10751;

void ThrowClassError(int inNumber, const VString* inParam = nullptr)
{
    _ThrowError(MakeVError(kSignatureVQRT, inNumber), inParam);
}

// Classes are numbered from 1 in the order they are made, on any task.
std::atomic<uint32_t> sClassSequence{0};

VJSONClassStore* RootStore()
{
    return GetProcessClassStore();
}

VJSONObject* RootClassObject(int inWhich)
{
    VJSONClassStore* store = RootStore();
    if (store == nullptr)
        return nullptr;
    switch (inWhich) {
        case 0: return store->GetObjectClassObject();
        case 1: return store->GetClassClassObject();
        default: return store->GetFunctionClassObject();
    }
}

// Sets a property of a shared object as a user of its storage.
void SetAsUser(VJSONObject* inObject, const VString& inName, const VJSONValue& inValue)
{
    VJSONUser user(inObject, false);
    inObject->SetProperty(inName, inValue);
}

// Sets an own property of a function object (whose implementation refuses
// ordinary writes) as a user of its storage.
void SetOwnAsUser(VJSONObject* inObject, const VString& inName, const VJSONValue& inValue)
{
    VJSONUser user(inObject, false);
    inObject->SetOwnProperty(inName, inValue);
}

// The function's this-argument: an object or an array.
void SplitThisArgument(const VJSONValue& inValue, VJSONObject*& outObject, VJSONArray*& outArray)
{
    outObject = inValue.GetObject();
    outArray = inValue.GetArray();
}

// Calls the function with a context of its own and copies its result into
// the caller's context.
EJSONStatus CallWithArguments(const VJSONObject* inFunction, const VJSONValue& inThis,
                              std::vector<VJSONValue>& inArguments, IJSONFunctionContext* inContext)
{
    VJSONObject* thisObject = nullptr;
    VJSONArray* thisArray = nullptr;
    SplitThisArgument(inThis, thisObject, thisArray);
    VJSONFunctionContext inner(thisObject, thisArray, &inArguments, inContext->GetBaseContext(),
                               inContext->GetLanguageContext());
    EJSONStatus status = inFunction->GetImplementation()->IJSON_CallAsFunction(inFunction, &inner);
    VJSONValue result;
    inner.GetResult(result);
    inContext->SetResult(result, inner.GetResultLegacyValueKind());
    return status;
}

}  // namespace

const VString VJSONClass::sClassProperty_name("name");
const VString VJSONClass::sClassProperty_superclass("superclass");
const VString VJSONClass::sClassProperty_prototype("__prototype");
const VString VJSONClass::sClassProperty_file("__file");
const VString VJSONClass::sClassFunction_new("new");
const VString VJSONClass::sFunctionProperty_final("final");
const VString VJSONClass::sClassProperty_id("_id");
const VString VJSONClass::sFunctionProperty_hidden("__hidden");
const VString VJSONClass::sFunctionProperty_local("local");
const VString VJSONClass::sFunctionProperty_exposed("exposed");
const VString VJSONClass::sFunctionProperty_eventName("eventName");
const VString VJSONClass::sFunctionProperty_resultType("resultType");
const VString VJSONClass::sFunctionProperty_resultTypeCode("resultTypeCode");
const VString VJSONClass::sFunctionProperty_resultClass("resultClass");
const VString VJSONClass::sClassProperty_aliases("aliases");
const VString VJSONClass::sAliasProperty_name("name");
const VString VJSONClass::sAliasProperty_path("path");
const VString VJSONClass::sClassProperty_properties("properties");

// ---------------------------------------------------------------------------
// Creation

VJSONClass::VJSONClass(const VString& inName, VJSONObject* inSuperclassObject, int32_t inLevel, IFile* inFile,
                       const VString& inComponentName, uint32_t inFlags)
    : fName(inName), fComponentName(inComponentName), fLevel(inLevel), fFlags(inFlags)
{
    if (inSuperclassObject != nullptr) {
        fSuperclass = FromClassObject(inSuperclassObject);
        fSuperclassObject = inSuperclassObject;
    }
    fPrototype = AdoptRef(new VJSONObject(nullptr, nullptr, true));
    fInstantiator = &VJSONClass::GenericInstantiator;
    fID = sClassSequence.fetch_add(1) + 1;
    fFile = inFile;
    bool haveTime = false;
    if (inFile != nullptr)
        haveTime = inFile->GetTimeAttributes(&fTimeStamp, nullptr, nullptr) == VE_OK;
    if (!haveTime)
        VTime::Now(fTimeStamp);
}

VJSONClass::~VJSONClass() = default;

VJSONClass* VJSONClass::FromClassObject(const VJSONObject* inObject)
{
    if (inObject == nullptr)
        return nullptr;
    return dynamic_cast<VJSONClass*>(inObject->GetImplementation());
}

VJSONObject* VJSONClass::Create(const VString& inName, VJSONObject* inSuperclassObject, IFile* inFile,
                                const VString& inComponentName, uint32_t inFlags)
{
    VJSONObject* superObject = inSuperclassObject != nullptr ? inSuperclassObject : RootClassObject(0);
    int32_t level = 0;
    if (superObject != nullptr) {
        VJSONClass* superclass = FromClassObject(superObject);
        if (superclass == nullptr) {
            ThrowClassError(kErrorSuperclassNotAClass);
            return nullptr;
        }
        level = superclass->GetLevel() + 1;
    }
    VRefPtr<VJSONClass> aClass = AdoptRef(new VJSONClass(inName, superObject, level, inFile, inComponentName, inFlags));
    VJSONObject* classObject = new VJSONObject(RootClassObject(1), aClass.Get(), true);
    aClass->SetClassObject(classObject);
    return classObject;
}

VJSONObject* VJSONClass::Create(const VString& inName, const std::vector<FunctionDescriptor>& inFunctions,
                                VJSONObject* inSuperclassObject, JSONMemberFunctionPtr inConstructor,
                                JSONInstantiatorPtr inInstantiator, const VString& inComponentName, uint32_t inFlags)
{
    VJSONObject* classObject = Create(inName, inSuperclassObject, nullptr, inComponentName, inFlags);
    if (classObject != nullptr)
        FromClassObject(classObject)->SetFunctions(inFunctions, inConstructor, inInstantiator);
    return classObject;
}

// ---------------------------------------------------------------------------
// Members

void VJSONClass::SetFunctions(const std::vector<FunctionDescriptor>& inFunctions, JSONMemberFunctionPtr inConstructor,
                              JSONInstantiatorPtr inInstantiator)
{
    std::vector<FunctionPair> pairs;
    pairs.reserve(inFunctions.size());
    for (const FunctionDescriptor& descriptor : inFunctions) {
        uint32_t flags = descriptor.fFlags | ((fFlags & 2u) != 0 ? 1u : 0u);
        pairs.emplace_back(descriptor.fName,
                           AdoptRef(VJSONMemberFunction::Create(descriptor.fFunction, descriptor.fName, this, flags)));
    }
    VRefPtr<VJSONObject> constructor;
    if (inConstructor != nullptr) {
        VRefPtr<VJSONMemberFunction> function =
            AdoptRef(new VJSONMemberFunction(inConstructor, VString("constructor"), this));
        constructor = AdoptRef(new VJSONObject(RootClassObject(2), function.Get(), true));
    }
    SetFunctions(pairs, constructor.Get(), inInstantiator);
}

void VJSONClass::_AddAttribute(VRefPtr<VJSONObject>& ioHolder, VJSONFunctionMap& ioMap, const VString& inAttribute,
                               VJSONObject* inFunction)
{
    if (ioHolder.Get() == nullptr) {
        VRefPtr<VStorageLocker> locker = AdoptRef(new VStorageLocker(true, false));
        ioHolder = AdoptRef(new VJSONObject(RootClassObject(0), nullptr, locker.Get()));
    }
    SetAsUser(ioHolder.Get(), inAttribute, VJSONValue(inFunction));
    ioMap[inAttribute] = inFunction;
}

void VJSONClass::SetFunctions(const std::vector<FunctionPair>& inFunctions, VJSONObject* inConstructor,
                              JSONInstantiatorPtr inInstantiator)
{
    if (fFunctionsSet)
        return;
    fConstructor = inConstructor;
    fInstantiator = inInstantiator;
    if (fSuperclass != nullptr) {
        fFunctions = fSuperclass->fFunctions;
        fGetters = fSuperclass->fGetters;
        fSetters = fSuperclass->fSetters;
    }
    for (const FunctionPair& pair : inFunctions) {
        const VString& name = pair.first;
        VJSONObject* function = pair.second.Get();
        if (function == nullptr)
            continue;
        SetAsUser(fPrototype.Get(), name, VJSONValue(function));
        fFunctions[name] = function;
        int space = name.FindUniChar(' ');
        if (space > 0) {
            VString prefix;
            VString attribute;
            name.GetSubString(1, space - 1, prefix);
            name.GetSubString(space + 1, name.GetLength() - space, attribute);
            SetOwnAsUser(function, sFunctionProperty_eventName, VJSONValue(prefix));
            if (prefix.EqualToStringRaw(VString("get")))
                _AddAttribute(fGettersObject, fGetters, attribute, function);
            else if (prefix.EqualToStringRaw(VString("set")))
                _AddAttribute(fSettersObject, fSetters, attribute, function);
        }
    }
    for (const auto& getter : fGetters) {
        if (fSetters.find(getter.first) != fSetters.end())
            continue;
        if (fReadOnlySetter.Get() == nullptr)
            fReadOnlySetter = AdoptRef(VJSONMemberFunction::Create(&do_errorReadOnlyAttribute,
                                                                   VString("set ") + getter.first, this, 1));
        fSetters[getter.first] = fReadOnlySetter.Get();
    }
    for (const auto& setter : fSetters) {
        if (fGetters.find(setter.first) != fGetters.end())
            continue;
        if (fWriteOnlyGetter.Get() == nullptr)
            fWriteOnlyGetter = AdoptRef(VJSONMemberFunction::Create(&do_errorWriteOnlyAttribute,
                                                                    VString("get ") + setter.first, this, 1));
        fGetters[setter.first] = fWriteOnlyGetter.Get();
    }
    fFunctionsSet = true;
}

void VJSONClass::GetGetterNames(std::vector<VString>& ioNames) const
{
    for (const auto& getter : fGetters)
        ioNames.push_back(getter.first);
}

bool VJSONClass::IsFunctionHidden(const VJSONObject* inFunction)
{
    if (inFunction == nullptr)
        return false;
    VJSONValue hidden = inFunction->GetOwnProperty(sFunctionProperty_hidden);
    return !hidden.IsUndefined() && hidden.GetBool();
}

void VJSONClass::_TearDown()
{
    fFunctions.clear();
    fGetters.clear();
    fSetters.clear();
    fConstructor = nullptr;
    fReadOnlySetter = nullptr;
    fWriteOnlyGetter = nullptr;
    fGettersObject = nullptr;
    fSettersObject = nullptr;
    fPrototype = nullptr;
    fSuperclass = nullptr;
    fSuperclassObject = nullptr;
}

// ---------------------------------------------------------------------------
// Instances

VJSONObject* VJSONClass::GenericInstantiator(VJSONObject* inClassObject, IJSONFunctionContext*)
{
    return new VJSONObject(inClassObject, nullptr, static_cast<VStorageLocker*>(nullptr));
}

VJSONObject* VJSONClass::CreateInstance(VJSONObject* inClassObject, IJSONFunctionContext* inContext)
{
    if (!fFunctionsSet)
        return nullptr;
    if (fInstantiator == nullptr) {
        ThrowClassError(kErrorNoInstantiator);
        return nullptr;
    }
    VJSONObject* object = fInstantiator(inClassObject, inContext);
    if (object != nullptr)
        ConstructInstance(object, inContext);
    return object;
}

void VJSONClass::ConstructInstance(VJSONObject* inObject, IJSONFunctionContext* inContext)
{
    std::vector<VJSONClass*> chain;
    for (VJSONClass* walk = this; walk != nullptr; walk = walk->fSuperclass)
        chain.push_back(walk);
    int32_t withoutConstructor = 0;
    for (auto it = chain.rbegin(); it != chain.rend() && !(*it)->HasConstructor(); ++it)
        ++withoutConstructor;
    inObject->_SetConstruction(withoutConstructor, true);
    for (VJSONClass* walk : chain) {
        if (walk->HasConstructor()) {
            walk->CallConstructor(inObject, inContext);
            break;
        }
    }
    inObject->_SetConstruction(fLevel, false);
}

EJSONStatus VJSONClass::CallConstructor(VJSONObject* inObject, IJSONFunctionContext* inContext)
{
    VJSONObject* constructor = fConstructor.Get();
    if (constructor == nullptr || constructor->GetImplementation() == nullptr)
        return eJSONStatus_NotHandled;
    VJSONFunctionContext context(inObject, nullptr, inContext);
    context.SetResultIsExpected(false);
    EJSONStatus status = constructor->GetImplementation()->IJSON_CallAsFunction(constructor, &context);
    if (status != eJSONStatus_Done)
        return status;
    // The constructor must have run those of the ancestors above the
    // construction level.
    for (VJSONClass* walk = this; walk->fLevel > inObject->GetConstructionLevel();) {
        walk = walk->fSuperclass;
        if (walk == nullptr)
            break;
        if (walk->HasConstructor()) {
            ThrowClassError(kErrorSuperNotConstructed);
            return eJSONStatus_Failed;
        }
    }
    return eJSONStatus_Done;
}

EJSONStatus VJSONClass::CallSuperConstructor(IJSONFunctionContext* inContext)
{
    VJSONObject* object = inContext->GetThisObject();
    VJSONClass* scope = inContext->GetScopeClass();
    if (scope == nullptr || scope->fLevel <= 0 || object == nullptr) {
        ThrowClassError(kErrorSuperConstructor);
        return eJSONStatus_Failed;
    }
    if (scope->fLevel > object->GetConstructionLevel()) {
        for (VJSONClass* parent = scope->fSuperclass; parent != nullptr; parent = parent->fSuperclass) {
            EJSONStatus status = parent->CallConstructor(object, inContext);
            if (status != eJSONStatus_NotHandled) {
                object->_SetConstruction(scope->fLevel, object->IsUnderConstruction());
                return status;
            }
            if (parent->fLevel <= object->GetConstructionLevel())
                break;
        }
        object->_SetConstruction(scope->fLevel, object->IsUnderConstruction());
        return eJSONStatus_NotHandled;
    }
    VJSONClass* objectClass = object->_GetClass();
    int32_t classLevel = objectClass != nullptr ? objectClass->fLevel : 0;
    if (object->GetConstructionLevel() != classLevel || object->IsUnderConstruction())
        return eJSONStatus_Done;
    ThrowClassError(kErrorSuperConstructor);
    return eJSONStatus_Failed;
}

VError VJSONClass::FinalizeInstance(VJSONObject* inObject)
{
    if (inObject == nullptr || inObject->_GetClass() == nullptr)
        return VE_OK;
    VJSONClass* objectClass = inObject->_GetClass();
    VError result = VE_OK;
    for (VJSONClass* walk = objectClass; walk != nullptr; walk = walk->fSuperclass) {
        if (walk->HasConstructor()) {
            result = MakeVError(kSignatureVQRT, kErrorFinalizeWithConstructor);
            ThrowClassError(kErrorFinalizeWithConstructor, &walk->fName);
            break;
        }
    }
    inObject->_SetConstruction(objectClass->fLevel, inObject->IsUnderConstruction());
    return result;
}

bool VJSONClass::IsObsolete() const
{
    if (fFile.Get() != nullptr) {
        StErrorContextInstaller quiet(false, true);
        VTime modified;
        if (fFile->GetTimeAttributes(&modified, nullptr, nullptr) != VE_OK) {
            if (!fFile->Exists())
                return true;
        } else if (fTimeStamp < modified) {
            return true;
        }
    }
    return fSuperclass != nullptr && fSuperclass->IsObsolete();
}

void VJSONClass::UseClassObject()
{
    if (fUseCount.fetch_add(1) == 0 && fClassObject != nullptr)
        fClassObject->Retain();
}

void VJSONClass::UnuseClassObject()
{
    if (fUseCount.fetch_sub(1) == 1 && fClassObject != nullptr)
        fClassObject->Release();
}

// ---------------------------------------------------------------------------
// Native members

EJSONStatus VJSONClass::do_new(const VJSONObject*, IJSONFunctionContext* inContext)
{
    // The receiver of the call is the class object.
    VJSONObject* inThisObject = inContext->GetThisObject();
    VJSONClass* aClass = FromClassObject(inThisObject);
    VJSONObject* object = nullptr;
    if (aClass != nullptr && aClass->fFunctionsSet) {
        if (aClass->fInstantiator == nullptr) {
            ThrowClassError(kErrorNoInstantiator);
        } else {
            object = aClass->fInstantiator(inThisObject, inContext);
            if (object != nullptr)
                aClass->ConstructInstance(object, inContext);
        }
    }
    VJSONValue result(object);
    inContext->SetResult(result, 5);
    if (object != nullptr)
        object->Release();
    return eJSONStatus_Done;
}

EJSONStatus VJSONClass::do_errorReadOnlyAttribute(const VJSONObject*, IJSONFunctionContext*)
{
    ThrowClassError(kErrorReservedProperty);
    return eJSONStatus_Failed;
}

EJSONStatus VJSONClass::do_errorWriteOnlyAttribute(const VJSONObject*, IJSONFunctionContext* inContext)
{
    inContext->SetResult(VJSONValue(JSON_undefined), 5);
    return eJSONStatus_Done;
}

EJSONStatus VJSONClass::do_errorOverridingFinalFunction(const VJSONObject* inThisObject, IJSONFunctionContext*)
{
    VString name;
    if (inThisObject != nullptr && inThisObject->GetImplementation() != nullptr) {
        VJSONValue description = inThisObject->GetProperty(VString("_description"));
        if (description.IsString())
            description.GetString(name);
    }
    ThrowClassError(kErrorFinalFunction, &name);
    return eJSONStatus_Failed;
}

// ---------------------------------------------------------------------------
// The class object's properties

bool VJSONClass::_IsReservedName(const VString& inName)
{
    return inName.EqualToStringRaw(sClassProperty_name) || inName.EqualToStringRaw(sClassProperty_superclass) ||
           inName.EqualToStringRaw(sClassProperty_prototype) || inName.EqualToStringRaw(sClassProperty_file);
}

EJSONStatus VJSONClass::IJSON_GetProperty(const VJSONObject*, const VString& inName, VJSONValue& outValue,
                                          VDBLanguageContext*) const
{
    if (inName.EqualToStringRaw(sClassProperty_name)) {
        outValue = VJSONValue(fName);
    } else if (inName.EqualToStringRaw(sClassProperty_superclass)) {
        if (fSuperclassObject.Get() != nullptr)
            outValue = VJSONValue(fSuperclassObject.Get());
        else
            outValue.SetNull();
    } else if (inName.EqualToStringRaw(sClassProperty_prototype)) {
        outValue = VJSONValue(fPrototype.Get());
    } else if (inName.EqualToStringRaw(sClassProperty_file)) {
        if (fFile.Get() != nullptr)
            outValue = VJSONValue(fFile->GetPathWithFileSystem());
        else
            outValue.SetUndefined();
    } else if (inName.EqualToStringRaw(sClassProperty_id)) {
        outValue = VJSONValue(static_cast<double>(fID));
    } else {
        return eJSONStatus_NotHandled;
    }
    return eJSONStatus_Done;
}

EJSONStatus VJSONClass::IJSON_SetProperty(VJSONObject*, const VString& inName, const VJSONValue&, VDBLanguageContext*)
{
    if (!_IsReservedName(inName))
        return eJSONStatus_NotHandled;
    ThrowClassError(kErrorReservedProperty);
    return eJSONStatus_Failed;
}

EJSONStatus VJSONClass::IJSON_RemoveProperty(VJSONObject*, const VString& inName)
{
    if (!_IsReservedName(inName))
        return eJSONStatus_NotHandled;
    ThrowClassError(kErrorReservedProperty);
    return eJSONStatus_Failed;
}

EJSONStatus VJSONClass::IJSON_Clone(const VJSONObject*, VJSONCloner&, VJSONValue&, uint64_t*) const
{
    return eJSONStatus_Failed;
}

EJSONStatus VJSONClass::IJSON_GetPropertyNames(std::vector<VString>& outNames) const
{
    outNames.push_back(sClassProperty_name);
    outNames.push_back(sClassProperty_superclass);
    return eJSONStatus_Done;
}

EJSONStatus VJSONClass::IJSON_GetDescription(const VJSONObject*, VString& outDescription) const
{
    outDescription = VString("Class: ") + fName;
    return eJSONStatus_Done;
}

// ---------------------------------------------------------------------------
// Member functions

VJSONMemberFunction::VJSONMemberFunction(JSONMemberFunctionPtr inFunction, const VString& inName, VJSONClass* inOwner)
    : fFunction(inFunction), fName(inName), fOwner(inOwner)
{
}

VJSONObject* VJSONMemberFunction::Create(JSONMemberFunctionPtr inFunction, const VString& inName, VJSONClass* inOwner,
                                         uint32_t inFlags)
{
    VString fullName;
    if (inOwner != nullptr)
        fullName = inOwner->GetName() + VString(".") + inName;
    else
        fullName = inName;
    VRefPtr<VJSONMemberFunction> function = AdoptRef(new VJSONMemberFunction(inFunction, fullName, inOwner));
    VJSONObject* object = new VJSONObject(RootClassObject(2), function.Get(), true);
    if ((inFlags & 1u) != 0)
        SetOwnAsUser(object, VJSONClass::sFunctionProperty_final, VJSONValue(JSON_true));
    if ((inFlags & 2u) != 0)
        SetOwnAsUser(object, VJSONClass::sFunctionProperty_hidden, VJSONValue(JSON_true));
    return object;
}

EJSONStatus VJSONMemberFunction::do_apply(const VJSONObject*, IJSONFunctionContext* inContext)
{
    // The receiver of the call is the function to run.
    const VJSONObject* inThisObject = inContext->GetThisObject();
    if (inThisObject == nullptr || inThisObject->GetImplementation() == nullptr) {
        ThrowClassError(kErrorNotCallable);
        inContext->SetResult(VJSONValue(JSON_undefined), 5);
        return eJSONStatus_Failed;
    }
    VJSONValue thisArgument = inContext->GetParam(1);
    VJSONValue list = inContext->GetParam(2);
    std::vector<VJSONValue> arguments;
    if (VJSONArray* array = list.GetArray())
        array->GetValues(arguments);
    EJSONStatus status = CallWithArguments(inThisObject, thisArgument, arguments, inContext);
    if (status == eJSONStatus_NotHandled)
        ThrowClassError(kErrorNotCallable);
    return status;
}

EJSONStatus VJSONMemberFunction::do_call(const VJSONObject*, IJSONFunctionContext* inContext)
{
    // The receiver of the call is the function to run.
    const VJSONObject* inThisObject = inContext->GetThisObject();
    if (inThisObject == nullptr || inThisObject->GetImplementation() == nullptr) {
        ThrowClassError(kErrorNotCallable);
        return eJSONStatus_Failed;
    }
    std::vector<VJSONValue>* parameters = nullptr;
    EJSONStatus status = inContext->GetParametersAsJSONValues(&parameters);
    if (status == eJSONStatus_Done) {
        if (parameters == nullptr || parameters->empty()) {
            VJSONFunctionContext inner(nullptr, nullptr, inContext);
            status = inThisObject->GetImplementation()->IJSON_CallAsFunction(inThisObject, &inner);
        } else {
            std::vector<VJSONValue> arguments(parameters->begin() + 1, parameters->end());
            status = CallWithArguments(inThisObject, (*parameters)[0], arguments, inContext);
        }
    }
    if (status == eJSONStatus_NotHandled)
        ThrowClassError(kErrorNotCallable);
    return status;
}

EJSONStatus VJSONMemberFunction::IJSON_GetProperty(const VJSONObject*, const VString& inName, VJSONValue& outValue,
                                                   VDBLanguageContext*) const
{
    if (!inName.EqualToStringRaw(VString("_description")))
        return eJSONStatus_NotHandled;
    outValue = VJSONValue(fName);
    return eJSONStatus_Done;
}

EJSONStatus VJSONMemberFunction::IJSON_SetProperty(VJSONObject*, const VString&, const VJSONValue&,
                                                   VDBLanguageContext*)
{
    ThrowClassError(kErrorReservedProperty);
    return eJSONStatus_Failed;
}

EJSONStatus VJSONMemberFunction::IJSON_RemoveProperty(VJSONObject*, const VString&)
{
    ThrowClassError(kErrorReservedProperty);
    return eJSONStatus_Failed;
}

bool VJSONMemberFunction::IJSON_Clear(VJSONObject*) { return true; }

bool VJSONMemberFunction::IJSON_IsEmpty(const VJSONObject*) const { return false; }

EJSONStatus VJSONMemberFunction::IJSON_Stringify(const VJSONObject* inObject, VJSONWriter&, VString& outText,
                                                 uint64_t* outError) const
{
    if (outError != nullptr)
        *outError = 0;
    return IJSON_GetDescription(inObject, outText);
}

EJSONStatus VJSONMemberFunction::IJSON_Clone(const VJSONObject* inObject, VJSONCloner& inCloner, VJSONValue& outClone,
                                             uint64_t* outError) const
{
    VRefPtr<VJSONMemberFunction> function = AdoptRef(new VJSONMemberFunction(fFunction, fName, nullptr));
    bool shared = inCloner.GetSharingMode() == kJSONCloneShareCopy;
    VRefPtr<VJSONObject> clone = AdoptRef(new VJSONObject(RootClassObject(2), function.Get(), shared));
    VError error = inObject->CloneProperties(inCloner, clone.Get());
    if (error != VE_OK) {
        if (outError != nullptr)
            *outError = error;
        return eJSONStatus_Failed;
    }
    outClone = VJSONValue(clone.Get());
    return eJSONStatus_Done;
}

EJSONStatus VJSONMemberFunction::IJSON_GetPropertyNames(std::vector<VString>&) const
{
    return eJSONStatus_NotHandled;
}

EJSONStatus VJSONMemberFunction::IJSON_GetDescription(const VJSONObject*, VString& outDescription) const
{
    outDescription = VString("<<Native Function: ") + fName + VString(" >>");
    return eJSONStatus_Done;
}

EJSONStatus VJSONMemberFunction::IJSON_CallAsFunction(const VJSONObject* inFunction, IJSONFunctionContext* inContext)
{
    return fFunction(inFunction, inContext);
}

VJSONClass* VJSONMemberFunction::IJSON_GetFunctionClassOwner(const VJSONObject*) const { return fOwner; }

// ---------------------------------------------------------------------------
// Super objects

VJSONObject* VJSONSuper::CreateObject()
{
    VRefPtr<VJSONSuper> super = AdoptRef(new VJSONSuper);
    return new VJSONObject(RootClassObject(0), super.Get(), false);
}

EJSONStatus VJSONSuper::IJSON_GetProperty(const VJSONObject*, const VString& inName, VJSONValue& outValue,
                                          VDBLanguageContext*) const
{
    VRefPtr<VJSONObject> member = AdoptRef(VJSONSuperMember::CreateObject(inName));
    outValue = VJSONValue(member.Get());
    return eJSONStatus_Done;
}

EJSONStatus VJSONSuper::IJSON_SetProperty(VJSONObject*, const VString&, const VJSONValue&, VDBLanguageContext*)
{
    ThrowClassError(kErrorStoreWrite);
    return eJSONStatus_Failed;
}

EJSONStatus VJSONSuper::IJSON_RemoveProperty(VJSONObject*, const VString&)
{
    ThrowClassError(kErrorStoreWrite);
    return eJSONStatus_Failed;
}

EJSONStatus VJSONSuper::IJSON_Clone(const VJSONObject*, VJSONCloner&, VJSONValue& outClone, uint64_t*) const
{
    VRefPtr<VJSONObject> clone = AdoptRef(CreateObject());
    outClone = VJSONValue(clone.Get());
    return eJSONStatus_Done;
}

EJSONStatus VJSONSuper::IJSON_GetDescription(const VJSONObject*, VString& outDescription) const
{
    outDescription = VString("<<Super>>");
    return eJSONStatus_Done;
}

VJSONObject* VJSONSuperMember::CreateObject(const VString& inName)
{
    VRefPtr<VJSONSuperMember> member = AdoptRef(new VJSONSuperMember(inName));
    return new VJSONObject(RootClassObject(0), member.Get(), false);
}

EJSONStatus VJSONSuperMember::IJSON_SetProperty(VJSONObject*, const VString&, const VJSONValue&, VDBLanguageContext*)
{
    ThrowClassError(kErrorStoreWrite);
    return eJSONStatus_Failed;
}

EJSONStatus VJSONSuperMember::IJSON_RemoveProperty(VJSONObject*, const VString&)
{
    ThrowClassError(kErrorStoreWrite);
    return eJSONStatus_Failed;
}

EJSONStatus VJSONSuperMember::IJSON_Clone(const VJSONObject*, VJSONCloner&, VJSONValue& outClone, uint64_t*) const
{
    VRefPtr<VJSONObject> clone = AdoptRef(CreateObject(fName));
    outClone = VJSONValue(clone.Get());
    return eJSONStatus_Done;
}

EJSONStatus VJSONSuperMember::IJSON_GetDescription(const VJSONObject*, VString& outDescription) const
{
    outDescription = VString("<<Super member: ") + fName + VString(">>");
    return eJSONStatus_Done;
}

EJSONStatus VJSONSuperMember::IJSON_CallAsFunction(const VJSONObject*, IJSONFunctionContext* inContext)
{
    VJSONObject* scopeThis = inContext->GetScopeThisObject();
    VJSONClass* scope = inContext->GetScopeClass();
    if (scope == nullptr) {
        ThrowClassError(kErrorNoScopeClass);
        return eJSONStatus_Failed;
    }
    VJSONValue found;
    for (VJSONClass* walk = scope->GetSuperclass(); walk != nullptr && walk->GetPrototype() != nullptr;
         walk = walk->GetSuperclass()) {
        found = walk->GetPrototype()->GetProperty(fName);
        if (!found.IsUndefined())
            break;
    }
    if (found.IsUndefined()) {
        ThrowClassError(kErrorNotCallable);
        return eJSONStatus_Failed;
    }
    VJSONObject* function = found.GetObject();
    if (function == nullptr || function->GetImplementation() == nullptr) {
        ThrowClassError(kErrorNotCallableMember);
        return eJSONStatus_Failed;
    }
    VJSONFunctionContext context(scopeThis, nullptr, inContext);
    return function->GetImplementation()->IJSON_CallAsFunction(function, &context);
}

}  // namespace qelt
