#include "json/VJSONPropertyIterator.h"

#include <unordered_set>

#include "json/IJSONObject.h"
#include "json/VJSONClass.h"
#include "json/VJSONGraph.h"
#include "json/VStorageLocker.h"

namespace qelt {

const VString& VJSONPropertyIteratorBase::GetName() const
{
    if (fName < fNames.size())
        return fNames[fName];
    if (fEntry < fEntryCount)
        return fEntries[fEntry].fName;
    return VString::sEmpty;
}

VJSONValue VJSONPropertyIteratorBase::_GetValue(VDBLanguageContext* inContext) const
{
    if (fName < fNames.size()) {
        if (fOwnName[fName])
            return fObject->GetOwnProperty(fNames[fName]);
        return fObject->GetProperty(fNames[fName], inContext);
    }
    if (fEntry < fEntryCount)
        return VJSONValue(fEntries[fEntry].fValue);
    return VJSONValue(JSON_undefined);
}

void VJSONPropertyIteratorBase::_Build(unsigned int inOptions)
{
    if (fObject == nullptr)
        return;
    IJSONObject* implementation = fObject->GetImplementation();
    std::vector<VString> implementationNames;
    EJSONStatus namesStatus = eJSONStatus_NotHandled;
    if (implementation != nullptr && (inOptions & kJSONIterSkipImplementationNames) == 0)
        namesStatus = implementation->IJSON_GetPropertyNames(implementationNames);
    bool sharable = false;
    if (implementation != nullptr) {
        bool needsLocker = false;
        sharable = implementation->IJSON_IsSharable(fObject, needsLocker);
    }
    // The class's attribute names, when the implementation left the names
    // to the object.
    if ((inOptions & kJSONIterSkipClassAttributes) == 0 && namesStatus == eJSONStatus_NotHandled &&
        fObject->_GetClass() != nullptr)
        fObject->_GetClass()->GetGetterNames(implementationNames);
    StJSONContainerLocker lock(fObject, fObject->_GetStorageLocker() != nullptr);
    // The own properties are kept in insertion order, which is therefore
    // also the order of the unordered iterators.
    const VJSONPropertyTable& entries = fObject->_GetEntries();
    if (implementation == nullptr && fObject->_GetStorageLocker() == nullptr && implementationNames.empty()) {
        // Nothing foreign runs during the walk: the entries are read in place.
        fEntries = entries.begin();
        fEntryCount = entries.size();
        return;
    }
    const bool copyMode = fObject->_GetStorageLocker() != nullptr || sharable;
    if (copyMode) {
        // The implementation's names that are not own properties, then the own ones.
        for (VString& name : implementationNames) {
            if (entries.Find(name) == VJSONPropertyTable::kNotFound) {
                fNames.push_back(std::move(name));
                fOwnName.push_back(false);
            }
        }
        for (const VJSONPropertyEntry& entry : entries) {
            fNames.push_back(entry.fName);
            fOwnName.push_back(false);
        }
        return;
    }
    // An implementation that may run during the walk: the names as the
    // pointer form would list them, each read by name.
    for (VString& name : implementationNames) {
        fNames.push_back(std::move(name));
        fOwnName.push_back(false);
    }
    for (const VJSONPropertyEntry& entry : entries) {
        fNames.push_back(entry.fName);
        fOwnName.push_back(true);
    }
}

VJSONPropertyConstOrderedIterator::VJSONPropertyConstOrderedIterator(const VJSONObject* inObject,
                                                                     unsigned int inOptions)
    : VJSONPropertyIteratorBase(inObject)
{
    _Build(inOptions);
}

VJSONPropertyConstOrderedIterator::~VJSONPropertyConstOrderedIterator() = default;

VJSONPropertyConstIterator::VJSONPropertyConstIterator(const VJSONObject* inObject)
    : VJSONPropertyIteratorBase(inObject)
{
    _Build(0);
}

VJSONPropertyConstIterator::~VJSONPropertyConstIterator() = default;

VJSONPropertyIterator::VJSONPropertyIterator(VJSONObject* inObject)
    : VJSONPropertyIteratorBase(inObject), fUser(inObject, false)
{
    _Build(0);
}

VJSONPropertyIterator::~VJSONPropertyIterator() = default;

void VJSONPropertyIterator::SetValue(const VJSONValue& inValue, VDBLanguageContext* inContext) const
{
    VJSONObject* object = const_cast<VJSONObject*>(fObject);
    if (object == nullptr || AtEnd())
        return;
    const bool own = fName < fNames.size() ? static_cast<bool>(fOwnName[fName]) : true;
    if (own && inValue.IsUndefined())
        return;
    // Copy the name: a set may change the entry it is read from.
    VString name(GetName());
    object->SetProperty(name, inValue, inContext);
}

}  // namespace qelt
