#include "xml/VUTI.h"

#include <set>

namespace qelt {

namespace {

bool SameIdentifier(const VString& inA, const VString& inB)
{
    return inA.EqualToString(inB, false);
}

void AddTag(std::vector<VString>& ioTags, const VString& inTag)
{
    for (const VString& tag : ioTags)
        if (tag.EqualToString(inTag, false))
            return;
    ioTags.push_back(inTag);
}

bool HasTag(const std::vector<VString>& inTags, const VString& inTag)
{
    for (const VString& tag : inTags)
        if (tag.EqualToString(inTag, false))
            return true;
    return false;
}

// Visits the types reached from inStart through the links of inMap (parents
// or children) in preorder, depth first in map order, each type once; the
// direct links include temporary types only with inDirectTemporaries.
// Stops at the first type for which inVisit answers true and returns it.
template <class Visit>
const VUTI* Walk(const VUTI* inStart, VUTIMap (VUTI::*inMap)() const, bool inDirectTemporaries, Visit&& inVisit)
{
    std::set<const VUTI*> seen{inStart};
    std::vector<std::pair<const VUTI*, bool>> pending;  // type, direct link
    const VUTIMap first = (inStart->*inMap)();
    for (auto it = first.rbegin(); it != first.rend(); ++it)
        pending.emplace_back(it->second, true);
    while (!pending.empty()) {
        auto [type, direct] = pending.back();
        pending.pop_back();
        if (type == nullptr || (type->IsTemporary() && !(direct && inDirectTemporaries)))
            continue;
        if (!seen.insert(type).second)
            continue;
        if (inVisit(type))
            return type;
        if (type->IsTemporary())
            continue;
        const VUTIMap next = (type->*inMap)();
        for (auto it = next.rbegin(); it != next.rend(); ++it)
            pending.emplace_back(it->second, false);
    }
    return nullptr;
}

}  // namespace

VUTI::~VUTI()
{
    _Detach();
}

void VUTI::AddExtension(const VString& inTag)
{
    AddTag(fExtensions, inTag);
}

void VUTI::AddOSType(const VString& inTag)
{
    AddTag(fOSTypes, inTag);
}

void VUTI::AddMIMEType(const VString& inTag)
{
    AddTag(fMIMETypes, inTag);
}

const std::vector<VString>& VUTI::_Tags(Tags inKind) const
{
    switch (inKind) {
        case Tags::kExtension:
            return fExtensions;
        case Tags::kOSType:
            return fOSTypes;
        default:
            return fMIMETypes;
    }
}

VUTI* VUTI::_GetHighestParentThatConformsTo(Tags inKind, const VString& inTag) const
{
    const VUTI* found = HasTag(_Tags(inKind), inTag) ? this : nullptr;
    if (found == nullptr)
        found = Walk(this, &VUTI::GetParentUTIsMap, false,
                     [&](const VUTI* inType) { return HasTag(inType->_Tags(inKind), inTag); });
    return found != nullptr ? RetainRefCountable(const_cast<VUTI*>(found)) : nullptr;
}

VUTI* VUTI::GetHighestParentThatConformsToExtension(const VString& inTag) const
{
    return _GetHighestParentThatConformsTo(Tags::kExtension, inTag);
}

VUTI* VUTI::GetHighestParentThatConformsToOSType(const VString& inTag) const
{
    return _GetHighestParentThatConformsTo(Tags::kOSType, inTag);
}

VUTI* VUTI::GetHighestParentThatConformsToMIMEType(const VString& inTag) const
{
    return _GetHighestParentThatConformsTo(Tags::kMIMEType, inTag);
}

bool VUTI::ConformsToExtension(const VString& inTag) const
{
    VRefPtr<VUTI> found = AdoptRef(GetHighestParentThatConformsToExtension(inTag));
    return found != nullptr;
}

bool VUTI::ConformsToOSType(const VString& inTag) const
{
    VRefPtr<VUTI> found = AdoptRef(GetHighestParentThatConformsToOSType(inTag));
    return found != nullptr;
}

bool VUTI::ConformsToMIMEType(const VString& inTag) const
{
    VRefPtr<VUTI> found = AdoptRef(GetHighestParentThatConformsToMIMEType(inTag));
    return found != nullptr;
}

void VUTI::GetAllExtensionsVector(std::vector<VString>& ioExtensions) const
{
    auto add = [&](const VUTI* inType) {
        for (const VString& extension : inType->fExtensions)
            if (!HasTag(ioExtensions, extension))
                ioExtensions.push_back(extension);
        return false;
    };
    add(this);
    Walk(this, &VUTI::GetParentUTIsMap, false, add);
}

bool VUTI::ConformsToIdentifier(const VString& inIdentifier) const
{
    if (inIdentifier.IsEmpty())
        return false;
    if (SameIdentifier(fIdentifier, inIdentifier))
        return true;
    return Walk(this, &VUTI::GetParentUTIsMap, false, [&](const VUTI* inType) {
               return SameIdentifier(inType->fIdentifier, inIdentifier);
           }) != nullptr;
}

bool VUTI::IsPublic() const
{
    return fIdentifier.BeginsWith(VString("public"), false);
}

void VUTI::_ReleaseMap(VUTIMap& ioMap)
{
    VUTIMap old;
    old.swap(ioMap);
    for (auto& entry : old)
        ReleaseRefCountable(entry.second);
}

void VUTI::_SetMap(VUTIMap& ioMap, const VUTIMap& inMap)
{
    for (const auto& entry : inMap)
        RetainRefCountable(entry.second);
    _ReleaseMap(ioMap);
    ioMap = inMap;
}

void VUTI::SetParentUTIsMap(const VUTIMap& inMap)
{
    _SetMap(fParents, inMap);
}

void VUTI::SetChildrenUTIsMap(const VUTIMap& inMap)
{
    _SetMap(fChildren, inMap);
}

void VUTI::AddParentUTI(VUTI* inUTI)
{
    if (inUTI == nullptr || inUTI->fIdentifier.IsEmpty())
        return;
    if (fParents.emplace(inUTI->fIdentifier, inUTI).second)
        inUTI->Retain();
}

void VUTI::AddChildUTI(VUTI* inUTI)
{
    if (inUTI == nullptr || inUTI->fIdentifier.IsEmpty())
        return;
    if (fChildren.emplace(inUTI->fIdentifier, inUTI).second)
        inUTI->Retain();
}

bool VUTI::IsParent(const VUTI* inUTI) const
{
    if (inUTI == nullptr)
        return false;
    return Walk(this, &VUTI::GetParentUTIsMap, false, [&](const VUTI* inType) {
               return SameIdentifier(inType->fIdentifier, inUTI->fIdentifier);
           }) != nullptr;
}

bool VUTI::CouldBeAParent(const VUTI* inUTI) const
{
    if (inUTI == nullptr)
        return false;
    return Walk(this, &VUTI::GetParentUTIsMap, true, [&](const VUTI* inType) {
               return SameIdentifier(inType->fIdentifier, inUTI->fIdentifier);
           }) != nullptr;
}

bool VUTI::IsChild(const VUTI* inUTI) const
{
    if (inUTI == nullptr)
        return false;
    return Walk(this, &VUTI::GetChildrenUTIsMap, false, [&](const VUTI* inType) {
               return SameIdentifier(inType->fIdentifier, inUTI->fIdentifier);
           }) != nullptr;
}

bool VUTI::CouldBeAChild(const VUTI* inUTI) const
{
    if (inUTI == nullptr)
        return false;
    return Walk(this, &VUTI::GetChildrenUTIsMap, true, [&](const VUTI* inType) {
               return SameIdentifier(inType->fIdentifier, inUTI->fIdentifier);
           }) != nullptr;
}

bool VUTI::IsChildOrChildOfAParent(const VUTI* inUTI) const
{
    if (IsChild(inUTI))
        return true;
    return Walk(this, &VUTI::GetParentUTIsMap, false, [&](const VUTI* inType) { return inType->IsChild(inUTI); }) !=
           nullptr;
}

void VUTI::RemoveTemporaryUTI(const VString& inIdentifier)
{
    for (VUTIMap* map : {&fParents, &fChildren}) {
        auto found = map->find(inIdentifier);
        if (found != map->end() && found->second != nullptr && found->second->IsTemporary()) {
            VUTI* removed = found->second;
            map->erase(found);
            removed->Release();
        }
    }
}

void VUTI::_Detach()
{
    _ReleaseMap(fParents);
    _ReleaseMap(fChildren);
}

}  // namespace qelt
