#include "json/VJSONClassStore.h"

#include "files/IFile.h"
#include "runtime/VErrorBase.h"

namespace qelt {

namespace {

constexpr int kErrorStoreWrite = -10705;

}  // namespace

VJSONClassStore::VJSONClassStore(const VString& inName) : fName(inName)
{
    fClasses.max_load_factor(1.0f);
    fVisibleClasses.max_load_factor(1.0f);
    fComponents.max_load_factor(1.0f);
}

VJSONClassStore::~VJSONClassStore() = default;

void VJSONClassStore::AddRootClasses()
{
    StLocker lock(fLock);
    // "Object" and "Class" come before the class "Class" exists: their
    // class objects take it once both are made.
    VRefPtr<VJSONClass> objectClass = AdoptRef(new VJSONClass(VString("Object"), nullptr, 0, nullptr, fName, 0));
    VRefPtr<VJSONObject> objectClassObject = AdoptRef(new VJSONObject(nullptr, objectClass.Get(), true));
    objectClass->SetClassObject(objectClassObject.Get());

    VRefPtr<VJSONClass> classClass =
        AdoptRef(new VJSONClass(VString("Class"), objectClassObject.Get(), 1, nullptr, fName, 0));
    VRefPtr<VJSONObject> classClassObject = AdoptRef(new VJSONObject(nullptr, classClass.Get(), true));
    classClass->SetClassObject(classClassObject.Get());

    objectClassObject->_SetClass(classClass.Get());
    classClassObject->_SetClass(classClass.Get());
    objectClassObject->_SetConstruction(1, false);
    classClassObject->_SetConstruction(2, false);

    AddClass(objectClassObject.Get(), 0);
    AddClass(classClassObject.Get(), 0);
    fObjectClass = objectClassObject.Get();
    fClassClass = classClassObject.Get();

    VRefPtr<VJSONClass> functionClass =
        AdoptRef(new VJSONClass(VString("Function"), objectClassObject.Get(), 1, nullptr, fName, 0));
    VRefPtr<VJSONObject> functionClassObject = AdoptRef(new VJSONObject(fClassClass, functionClass.Get(), true));
    functionClass->SetClassObject(functionClassObject.Get());
    AddClass(functionClassObject.Get(), 0);
    fFunctionClass = functionClassObject.Get();

    objectClass->SetFunctions(std::vector<VJSONClass::FunctionDescriptor>(), nullptr, nullptr);
    classClass->SetFunctions({{VJSONClass::sClassFunction_new, &VJSONClass::do_new, 0}}, nullptr, nullptr);
    functionClass->SetFunctions({{VString("apply"), &VJSONMemberFunction::do_apply, 0},
                                 {VString("call"), &VJSONMemberFunction::do_call, 0}},
                                nullptr, nullptr);
}

void VJSONClassStore::_Put(VJSONClassMap& ioMap, const VString& inName, VJSONObject* inClassObject)
{
    auto found = ioMap.find(inName);
    if (found == ioMap.end())
        ioMap.emplace(inName, VRefPtr<VJSONObject>(inClassObject));
    else if (found->second.Get() != inClassObject)
        found->second = inClassObject;
}

void VJSONClassStore::AddClass(VJSONObject* inClassObject, uint32_t inFlags)
{
    VJSONClass* aClass = VJSONClass::FromClassObject(inClassObject);
    if (aClass == nullptr)
        return;
    StLocker lock(fLock);
    _Put(fClasses, aClass->GetName(), inClassObject);
    if ((inFlags & 1u) == 0)
        _Put(fVisibleClasses, aClass->GetName(), inClassObject);
}

VRefPtr<VJSONObject> VJSONClassStore::AddClass(const VString& inName,
                                               const std::vector<VJSONClass::FunctionDescriptor>& inFunctions,
                                               VJSONObject* inSuperclassObject, JSONMemberFunctionPtr inConstructor,
                                               JSONInstantiatorPtr inInstantiator, uint32_t inFlags)
{
    StLocker lock(fLock);
    VRefPtr<VJSONObject> classObject = AdoptRef(
        VJSONClass::Create(inName, inFunctions, inSuperclassObject, inConstructor, inInstantiator, VString(), inFlags));
    if (classObject.Get() != nullptr)
        AddClass(classObject.Get(), 0);
    return classObject;
}

void VJSONClassStore::AddComponentClass(const VString& inName, VJSONClassStore* inStore)
{
    // The lock guards the map against lookups running on other tasks.
    StLocker lock(fLock);
    fComponents.emplace(inName, VRefPtr<VJSONClassStore>(inStore));
}

VRefPtr<VJSONObject> VJSONClassStore::_Find(const VJSONClassMap& inMap, const VString& inName, bool inIgnoreCase)
{
    if (!inIgnoreCase) {
        auto found = inMap.find(inName);
        return found != inMap.end() ? found->second : VRefPtr<VJSONObject>();
    }
    for (const auto& entry : inMap) {
        if (entry.second.Get() != nullptr && EqualClassName(entry.first, inName, true))
            return entry.second;
    }
    return nullptr;
}

VRefPtr<VJSONObject> VJSONClassStore::GetClassObject(const VString& inName, bool inIgnoreCase) const
{
    StLocker lock(fLock);
    return _Find(fClasses, inName, inIgnoreCase);
}

VRefPtr<VJSONObject> VJSONClassStore::GetVisibleClassObject(const VString& inName, bool inIgnoreCase) const
{
    StLocker lock(fLock);
    return _Find(fVisibleClasses, inName, inIgnoreCase);
}

bool VJSONClassStore::EqualClassName(const VString& inA, const VString& inB, bool inIgnoreCase)
{
    if (!inIgnoreCase)
        return inA.EqualToStringRaw(inB);
    return inA.CompareToStringRawCase(inB) == CR_EQUAL;
}

void VJSONClassStore::GetClasses(VJSONClassMap& outClasses) const
{
    if (&outClasses == &fClasses)
        return;
    StLocker lock(fLock);
    outClasses = fClasses;
}

void VJSONClassStore::GetVisibleClasses(VJSONClassMap& outClasses) const
{
    if (&outClasses == &fVisibleClasses)
        return;
    StLocker lock(fLock);
    outClasses = fVisibleClasses;
}

void VJSONClassStore::GetVisibleComponents(VJSONComponentMap& outComponents) const
{
    if (&outComponents == &fComponents)
        return;
    StLocker lock(fLock);
    outComponents = fComponents;
}

VRefPtr<VJSONClassStore> VJSONClassStore::GetComponentClassStore(const VString& inName) const
{
    StLocker lock(fLock);
    auto found = fComponents.find(inName);
    return found != fComponents.end() ? found->second : VRefPtr<VJSONClassStore>();
}

size_t VJSONClassStore::GetCount() const
{
    StLocker lock(fLock);
    return fClasses.size();
}

void VJSONClassStore::RemoveObsoleteClasses(const VJSONClassFileMap& inClassFiles,
                                            std::vector<VString>& outRemovedNames)
{
    StLocker lock(fLock);
    for (auto it = fClasses.begin(); it != fClasses.end();) {
        auto current = it++;
        VJSONClass* aClass = VJSONClass::FromClassObject(current->second.Get());
        if (aClass == nullptr)
            continue;
        bool listed = inClassFiles.find(aClass->GetName()) != inClassFiles.end();
        bool hasFile = aClass->GetFile() != nullptr;
        bool obsolete = hasFile ? (!listed || aClass->IsObsolete()) : (listed || aClass->IsObsolete());
        if (!obsolete)
            continue;
        if (hasFile)
            outRemovedNames.push_back(current->first);
        fVisibleClasses.erase(current->first);
        fClasses.erase(current);
    }
}

void VJSONClassStore::TearDown()
{
    VJSONClassMap classes;
    VJSONClassMap visible;
    VJSONComponentMap components;
    {
        StLocker lock(fLock);
        classes.swap(fClasses);
        visible.swap(fVisibleClasses);
        components.swap(fComponents);
        fObjectClass = nullptr;
        fClassClass = nullptr;
        fFunctionClass = nullptr;
    }
    // First the members and prototypes (their function objects use the
    // class "Function"), then the classes of the class objects themselves.
    for (auto& entry : classes) {
        if (VJSONClass* aClass = VJSONClass::FromClassObject(entry.second.Get()))
            aClass->_TearDown();
    }
    for (auto& entry : classes)
        entry.second->_ClearClass();
}

EJSONStatus VJSONClassStore::IJSON_GetProperty(const VJSONObject*, const VString& inName, VJSONValue& outValue,
                                               VDBLanguageContext*) const
{
    StLocker lock(fLock);
    auto found = fClasses.find(inName);
    if (found != fClasses.end()) {
        outValue = VJSONValue(found->second.Get());
        return eJSONStatus_Done;
    }
    auto component = fComponents.find(inName);
    if (component != fComponents.end()) {
        VRefPtr<VJSONObject> object =
            AdoptRef(new VJSONObject(fObjectClass, component->second.Get(), static_cast<VStorageLocker*>(nullptr)));
        outValue = VJSONValue(object.Get());
        return eJSONStatus_Done;
    }
    outValue.SetUndefined();
    return eJSONStatus_Done;
}

EJSONStatus VJSONClassStore::IJSON_SetProperty(VJSONObject*, const VString&, const VJSONValue&, VDBLanguageContext*)
{
    _ThrowError(MakeVError(kSignatureVQRT, kErrorStoreWrite));
    return eJSONStatus_Failed;
}

bool VJSONClassStore::IJSON_Clear(VJSONObject*) { return true; }

bool VJSONClassStore::IJSON_IsEmpty(const VJSONObject*) const { return false; }

EJSONStatus VJSONClassStore::IJSON_Stringify(const VJSONObject* inObject, VJSONWriter&, VString& outText,
                                             uint64_t* outError) const
{
    if (outError != nullptr)
        *outError = 0;
    return IJSON_GetDescription(inObject, outText);
}

EJSONStatus VJSONClassStore::IJSON_GetPropertyNames(std::vector<VString>& outNames) const
{
    StLocker lock(fLock);
    for (const auto& entry : fVisibleClasses)
        outNames.push_back(entry.first);
    return eJSONStatus_Done;
}

EJSONStatus VJSONClassStore::IJSON_GetDescription(const VJSONObject*, VString& outDescription) const
{
    outDescription = VString("<<Class Store>>");
    return eJSONStatus_Done;
}

}  // namespace qelt
