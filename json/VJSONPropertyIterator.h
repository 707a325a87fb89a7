// Iterators over the properties of a JSON object: the names its
// implementation knows, then its own properties in insertion order (the
// order in which the object keeps them, so all three iterators list them so).
//
// An iterator reads the object's own entries in place only while no
// foreign code can run during the walk: an object without implementation
// and without storage locker. Otherwise it copies the names (under the
// object's lock for a shared one) and reads each value by name, in the same
// order. The caller keeps the object alive and, in the pointer form,
// unchanged while it iterates.
#pragma once

#include <cstddef>
#include <vector>

#include "json/VJSONObject.h"
#include "json/VJSONUser.h"
#include "json/VJSONValue.h"
#include "kernel/VObject.h"
#include "kernel/VString.h"

namespace qelt {

// Option bits of the ordered iterator.
enum : unsigned int {
    kJSONIterSkipImplementationNames = 0x1,
    kJSONIterSkipClassAttributes = 0x2,
    kJSONIterOwnOnly = 0x3
};

// What the three iterators share: a list of names, then a list of entries.
class VJSONPropertyIteratorBase : public VObject {
public:
    bool IsValid() const { return fName < fNames.size() || fEntry < fEntryCount; }
    bool AtEnd() const { return !IsValid(); }
    void Next()
    {
        if (fName < fNames.size())
            ++fName;
        else if (fEntry < fEntryCount)
            ++fEntry;
    }
    VJSONPropertyIteratorBase& operator++()
    {
        Next();
        return *this;
    }
    const VString& GetName() const;
    // The current own property's stored value when the iterator reads the
    // object in place (a plain object), else null: read it with GetValue.
    const VJSONValue* _GetStoredValue() const
    {
        return (fName >= fNames.size() && fEntry < fEntryCount) ? &fEntries[fEntry].fValue : nullptr;
    }

protected:
    explicit VJSONPropertyIteratorBase(const VJSONObject* inObject) : fObject(inObject) {}
    // The value at the current position.
    VJSONValue _GetValue(VDBLanguageContext* inContext) const;
    // Fills the lists.
    void _Build(unsigned int inOptions);

    const VJSONObject* fObject;
    std::vector<VString> fNames;
    // For each name: read as an own property (not through GetProperty).
    std::vector<bool> fOwnName;
    size_t fName = 0;
    // The object's own entries, read in place (insertion order).
    const VJSONPropertyEntry* fEntries = nullptr;
    size_t fEntryCount = 0;
    size_t fEntry = 0;
};

class VJSONPropertyConstOrderedIterator : public VJSONPropertyIteratorBase {
public:
    VJSONPropertyConstOrderedIterator(const VJSONObject* inObject, unsigned int inOptions);
    ~VJSONPropertyConstOrderedIterator() override;
    VJSONValue GetValue(VDBLanguageContext* inContext = nullptr) const { return _GetValue(inContext); }
};

class VJSONPropertyConstIterator : public VJSONPropertyIteratorBase {
public:
    explicit VJSONPropertyConstIterator(const VJSONObject* inObject);
    ~VJSONPropertyConstIterator() override;
    VJSONValue GetValue() const { return _GetValue(nullptr); }
};

// Keeps the object's storage in use for its lifetime, so that SetValue
// passes the writer rule of shared objects.
class VJSONPropertyIterator : public VJSONPropertyIteratorBase {
public:
    explicit VJSONPropertyIterator(VJSONObject* inObject);
    ~VJSONPropertyIterator() override;
    VJSONValue GetValue() const { return _GetValue(nullptr); }
    // Sets the current property; an undefined value on an own property is
    // ignored (the property is not removed under the iteration).
    void SetValue(const VJSONValue& inValue, VDBLanguageContext* inContext = nullptr) const;

private:
    VJSONUser fUser;
};

}  // namespace qelt
