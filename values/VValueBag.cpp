#include "values/VValueBag.h"

#include <algorithm>
#include <cerrno>
#include <clocale>
#include <cmath>
#include <cstdlib>
#include <cstdio>
#include <cstring>
#include <new>
#include <unordered_set>

#include "json/VJSONObject.h"
#include "json/VJSONImporter.h"
#include "json/VJSONWriter.h"
#include "kernel/VBoolean.h"
#include "kernel/VLong.h"
#include "kernel/VLong8.h"
#include "platform/PlatNumbers.h"
#include "kernel/VReal.h"
#include "kernel/VString.h"
#include "kernel/VProcessServices.h"
#include "kernel/VThrowError.h"
#include "values/VBagArray.h"
#include "values/VBagStreamIO.h"
#include "values/VTime.h"

namespace qelt {

VValueInfo_default<VValueBag, VK_BAG> VValueBag::sInfo;

namespace {

// Recursion guard shared by the tree walks (copy, stream, JSON, XML, dump):
// bags nest at most VValueBag::kMaxDepth deep, which also stops a walk that
// would loop on a list made to hold one of its own ancestors.
thread_local int tDepth = 0;

class StDepth {
public:
    StDepth() { ++tDepth; }
    ~StDepth() { --tDepth; }
    StDepth(const StDepth&) = delete;
    StDepth& operator=(const StDepth&) = delete;
    bool TooDeep() const { return tDepth > VValueBag::kMaxDepth; }
};

const StPackedDictionaryKey kFakeArrayElement("____FakeArrayElement");
const StPackedDictionaryKey kObjectUnic("____objectunic");
const StPackedDictionaryKey kPropertyNameInJSArray("____property_name_in_jsarray");

bool IsReservedForText(const char* bytes, unsigned long length)
{
    return kObjectUnic.Equal(bytes, length) || kPropertyNameInJSArray.Equal(bytes, length);
}

void AppendAscii(VString& text, const char* ascii)
{
    while (*ascii != 0)
        text.AppendUniChar(static_cast<UniChar>(static_cast<unsigned char>(*ascii++)));
}

void AppendTabs(VString& text, int count)
{
    for (int i = 0; i < count; ++i)
        text.AppendUniChar('\t');
}

bool IsStringValue(const VValueSingle& value) { return value.GetValueInfo()->GetKind() == VK_STRING; }

// The JSON text of an attribute value: quoted, a date at midnight as the date alone.
void AppendValueJSON(VString& text, const VValueSingle* value)
{
    if (value == nullptr || value->IsNull()) {
        AppendAscii(text, "null");
        return;
    }
    VString json;
    value->GetJSONString(json, kJSONWriteQuoted | kJSONWriteDateAlone);
    text.AppendString(json);
}

bool IsXMLChar(UniChar c, bool keepLineBreaks)
{
    if (c == 9 || c == 10 || c == 13)
        return keepLineBreaks;
    return (c >= 0x20 && c <= 0xD7FF) || (c >= 0xE000 && c <= 0xFFFD);
}

// The XML text of an attribute value, such that a reader gets the value back.
// A tab, line feed or carriage return is written as a character reference,
// since a reader turns a raw one into a space; a character that XML cannot
// hold at all (another control character, a lone surrogate, U+FFFE, U+FFFF)
// is left out, as in an element's text. Every other unit is written as the
// value's XML text has it.
void AppendValueXML(VString& text, const VValueSingle* value)
{
    if (value == nullptr)
        return;
    VString xml;
    value->GetXMLString(xml, 1);
    const UniChar* p = xml.GetCPointer();
    const int n = xml.GetLength();
    int run = 0;  // start of the units not yet appended
    for (int i = 0; i < n; ++i) {
        const UniChar c = p[i];
        if (c >= 0x20 && c < 0xD800)
            continue;
        if (c >= 0xD800 && c <= 0xDBFF && i + 1 < n && p[i + 1] >= 0xDC00 && p[i + 1] <= 0xDFFF) {
            ++i;
            continue;
        }
        const char* reference = c == 9 ? "&#x9;" : c == 10 ? "&#xA;" : c == 13 ? "&#xD;" : nullptr;
        if (reference == nullptr && IsXMLChar(c, false))
            continue;
        text.AppendUniChars(p + run, i - run);
        if (reference != nullptr)
            AppendAscii(text, reference);
        run = i + 1;
    }
    text.AppendUniChars(p + run, n - run);
}

// Appends units [begin, end) of `source` that XML text may hold. A surrogate
// pair passes; a lone surrogate is dropped (the unit after it is kept and
// judged on its own). In CDATA, a carriage return is written as a character
// reference between two sections, since XML readers turn a raw one into a
// line feed.
void AppendXMLFiltered(VString& text, const UniChar* p, int begin, int end, bool keepLineBreaks, bool inCData)
{
    for (int i = begin; i < end; ++i) {
        UniChar c = p[i];
        if (c >= 0xD800 && c <= 0xDBFF) {
            if (i + 1 < end && p[i + 1] >= 0xDC00 && p[i + 1] <= 0xDFFF) {
                text.AppendUniChar(c);
                text.AppendUniChar(p[i + 1]);
                ++i;
            }
            continue;
        }
        if (c == 13 && inCData && keepLineBreaks) {
            AppendAscii(text, "]]>&#xD;<![CDATA[");
            continue;
        }
        if (IsXMLChar(c, keepLineBreaks))
            text.AppendUniChar(c);
    }
}

}  // namespace

// ---------------------------------------------------------------------------
// Construction
// ---------------------------------------------------------------------------

VValueBag::VValueBag() : VValue(), IRefCountable() {}

VValueBag::VValueBag(const VValueBag& source) : VValue(source), IRefCountable(), fAttributes(source.fAttributes)
{
    SetDirty(true);
    StDepth depth;
    if (source.fElements != nullptr && !depth.TooDeep())
        fElements = new VPackedDictionary<VPackedValue_VBagArray>(*source.fElements);
}

VValueBag::~VValueBag()
{
    delete fElements;
}

const VValueInfo* VValueBag::GetValueInfo() const
{
    return &sInfo;
}

VValueBag* VValueBag::Clone() const
{
    return new (std::nothrow) VValueBag(*this);
}

void VValueBag::Destroy()
{
    fAttributes.ClearAll();
    delete fElements;
    fElements = nullptr;
}

bool VValueBag::IsEmpty() const
{
    return fAttributes.GetCount() == 0 && (fElements == nullptr || fElements->GetCount() == 0);
}

VValueBag::Elements* VValueBag::_EnsureElements()
{
    if (fElements == nullptr)
        fElements = new (std::nothrow) Elements();
    return fElements;
}

bool VValueBag::_HasDescendant(const VValueBag* bag) const
{
    if (bag == nullptr)
        return false;
    if (bag == this)
        return true;
    std::unordered_set<const VValueBag*> visited;
    std::vector<const VValueBag*> pending{this};
    while (!pending.empty()) {
        const VValueBag* current = pending.back();
        pending.pop_back();
        if (current->fElements == nullptr)
            continue;
        for (size_t i = 0; i < current->fElements->GetCount(); ++i) {
            VBagArray* list = current->fElements->GetValueAt(i);
            if (list == nullptr)
                continue;
            for (int k = 1; k <= list->GetCount(); ++k) {
                const VValueBag* child = list->_GetNth(k);
                if (child == bag)
                    return true;
                if (visited.insert(child).second)
                    pending.push_back(child);
            }
        }
    }
    return false;
}

// ---------------------------------------------------------------------------
// Attributes
// ---------------------------------------------------------------------------

bool VValueBag::SetAttribute(const StPackedDictionaryKey& name, const VValueSingle& value)
{
    if (!name.IsStorable())
        return false;
    if (fAttributes.SetExistingValue(name, value))
        return true;
    return fAttributes.Append(name, value);
}

void VValueBag::RemoveAttribute(const StPackedDictionaryKey& name)
{
    fAttributes.Clear(name);
}

const VValueSingle* VValueBag::GetNthAttribute(int n, VString* outName) const
{
    if (n < 1 || n > GetAttributesCount()) {
        if (outName != nullptr)
            outName->Clear();
        return nullptr;
    }
    if (outName != nullptr)
        fAttributes.GetKeyAt(static_cast<size_t>(n - 1)).GetString(*outName);
    return fAttributes.GetValueAt(static_cast<size_t>(n - 1));
}

const StPackedDictionaryKey& VValueBag::CDataAttributeName()
{
    static const StPackedDictionaryKey sKey("<>");
    return sKey;
}

void VValueBag::AppendToCData(const VString& text)
{
    size_t i = fAttributes._Find(CDataAttributeName());
    VValueSingle* value = i < fAttributes.GetCount() ? fAttributes.GetValueAt(i) : nullptr;
    if (value == nullptr) {
        SetAttribute(CDataAttributeName(), text);
        return;
    }
    fAttributes.SetNeedsPack();
    if (IsStringValue(*value)) {
        static_cast<VString*>(value)->AppendString(text);
        return;
    }
    VString* fresh = new VString();
    value->GetString(*fresh);
    fresh->AppendString(text);
    fAttributes.ReplaceAttachedAt(i, fresh);
}

// ---------------------------------------------------------------------------
// Elements
// ---------------------------------------------------------------------------

int VValueBag::GetElementNamesCount() const
{
    return fElements == nullptr ? 0 : static_cast<int>(fElements->GetCount());
}

VBagArray* VValueBag::GetNthElementName(int n, VString* outName) const
{
    if (n < 1 || n > GetElementNamesCount()) {
        if (outName != nullptr)
            outName->Clear();
        return nullptr;
    }
    if (outName != nullptr)
        fElements->GetKeyAt(static_cast<size_t>(n - 1)).GetString(*outName);
    return fElements->GetValueAt(static_cast<size_t>(n - 1));
}

VBagArray* VValueBag::GetElements(const StPackedDictionaryKey& name) const
{
    return fElements == nullptr ? nullptr : fElements->GetValue(name);
}

void VValueBag::SetElements(const StPackedDictionaryKey& name, VBagArray* list)
{
    if (list == nullptr || !name.IsStorable())
        return;
    for (int k = 1; k <= list->GetCount(); ++k) {
        if (list->_GetNth(k)->_HasDescendant(this))
            return;  // would make this bag its own descendant
    }
    Elements* elements = _EnsureElements();
    if (elements != nullptr)
        elements->SetValue(name, list);
}

void VValueBag::AddElement(const StPackedDictionaryKey& name, VValueBag* child)
{
    if (child == nullptr || !name.IsStorable() || child->_HasDescendant(this))
        return;
    if (VBagArray* list = GetElements(name)) {
        list->AddTail(child);
        return;
    }
    Elements* elements = _EnsureElements();
    if (elements == nullptr)
        return;
    VBagArray* list = new (std::nothrow) VBagArray();
    if (list == nullptr)
        return;
    if (!list->AddTail(child) || !elements->AppendAdopt(name, list))
        list->Release();
}

VError VValueBag::AddElement(const IBaggable* object)
{
    if (object == nullptr)
        return VE_OK;
    VValueBag* bag = new VValueBag();
    VString kindName;
    VError err = object->SaveToBag(*bag, kindName);
    if (err == VE_OK)
        AddElement(StPackedDictionaryKey(kindName), bag);
    bag->Release();
    return err;
}

void VValueBag::RemoveElements(const StPackedDictionaryKey& name)
{
    if (fElements != nullptr)
        fElements->Remove(name);
}

bool VValueBag::ReplaceElement(const StPackedDictionaryKey& name, VValueBag* child)
{
    if (child == nullptr) {
        RemoveElements(name);
        return false;
    }
    if (!name.IsStorable() || child->_HasDescendant(this))
        return false;
    if (VBagArray* list = GetElements(name)) {
        if (list->GetCount() == 1 && list->_GetNth(1) == child)
            return false;
        child->Retain();
        list->Destroy();
        list->AddTail(child);
        child->Release();
        return true;
    }
    Elements* elements = _EnsureElements();
    if (elements == nullptr)
        return false;
    VBagArray* list = new (std::nothrow) VBagArray();
    if (list == nullptr)
        return false;
    if (!list->AddTail(child) || !elements->AppendAdopt(name, list)) {
        list->Release();
        return false;
    }
    return true;
}

const VValueBag* VValueBag::GetUniqueElementAnyKind(VString& outName) const
{
    if (GetElementNamesCount() == 1) {
        VBagArray* list = fElements->GetValueAt(0);
        if (list != nullptr && list->GetCount() == 1) {
            fElements->GetKeyAt(0).GetString(outName);
            return list->_GetNth(1);
        }
    }
    outName.Clear();
    return nullptr;
}

VValueBag* VValueBag::RetainUniqueElementWithAttribute(const StPackedDictionaryKey& elementName,
                                                       const StPackedDictionaryKey& attributeName,
                                                       const VValueSingle& value) const
{
    VBagArray* list = GetElements(elementName);
    if (list == nullptr)
        return nullptr;
    VValue* clone = value.Clone();
    VValueSingle* scratch = clone != nullptr ? clone->IsVValueSingle() : nullptr;
    if (scratch == nullptr) {
        delete clone;
        return nullptr;
    }
    int matches = 0;
    int last = 0;
    for (int k = 1; k <= list->GetCount() && matches < 2; ++k) {
        if (!list->_GetNth(k)->GetAttribute(attributeName, *scratch))
            scratch->Clear();
        if (scratch->EqualTo(value, false)) {
            ++matches;
            last = k;
        }
    }
    delete scratch;
    if (matches != 1)
        return nullptr;
    VValueBag* found = list->_GetNth(last);
    found->Retain();
    return found;
}

// ---------------------------------------------------------------------------
// Paths
// ---------------------------------------------------------------------------

void VValueBag::GetKeysFromUTF8PathNoCopy(const char* path, StKeyPath& keys)
{
    if (path == nullptr)
        return;
    const char* start = path;
    const char* p = path;
    for (; *p != 0; ++p) {
        if (*p == '/') {
            keys.push_back(StPackedDictionaryKey::Borrow(start, static_cast<unsigned long>(p - start)));
            start = p + 1;
        }
    }
    if (p > start)
        keys.push_back(StPackedDictionaryKey::Borrow(start, static_cast<unsigned long>(p - start)));
}

void VValueBag::GetKeysFromPath(const VString& path, StKeyPath& keys)
{
    const UniChar* p = path.GetCPointer();
    int n = path.GetLength();
    int start = 0;
    auto push = [&](int begin, int end) {
        char buffer[StPackedDictionaryKey::kMaxKeyLength + 1];
        unsigned long length = 0;
        if (EncodeUTF16ToUTF8(p + begin, end - begin, buffer, StPackedDictionaryKey::kMaxKeyLength, &length)) {
            keys.push_back(StPackedDictionaryKey(buffer, length));
        } else {
            // A segment that does not fit a key is refused, not cut: it
            // becomes a key that no bag holds or can store.
            keys.push_back(StPackedDictionaryKey::Unstorable());
        }
    };
    for (int i = 0; i < n; ++i) {
        if (p[i] == '/') {
            push(start, i);
            start = i + 1;
        }
    }
    if (n > start)
        push(start, n);
}

VValueBag* VValueBag::GetUniqueElementByPath(const StKeyPath& names)
{
    VValueBag* current = this;
    for (const StPackedDictionaryKey& name : names) {
        VBagArray* list = current->GetElements(name);
        if (list == nullptr || list->GetCount() < 1)
            return nullptr;
        current = list->_GetNth(1);
    }
    return current;
}

const VValueBag* VValueBag::GetUniqueElementByPath(const StKeyPath& names) const
{
    return const_cast<VValueBag*>(this)->GetUniqueElementByPath(names);
}

VValueBag* VValueBag::GetUniqueElementByPath(const VString& path)
{
    StKeyPath keys;
    GetKeysFromPath(path, keys);
    return GetUniqueElementByPath(keys);
}

const VValueBag* VValueBag::GetUniqueElementByPath(const VString& path) const
{
    return const_cast<VValueBag*>(this)->GetUniqueElementByPath(path);
}

VValueBag* VValueBag::GetElementByPathAndCreateIfDontExists(const StKeyPath& names)
{
    VValueBag* current = this;
    for (const StPackedDictionaryKey& name : names) {
        VBagArray* list = current->GetElements(name);
        if (list != nullptr && list->GetCount() >= 1) {
            current = list->_GetNth(1);
            continue;
        }
        VValueBag* fresh = new VValueBag();
        bool replaced = current->ReplaceElement(name, fresh);
        fresh->Release();
        if (!replaced)
            return nullptr;  // the step cannot be made (a name that cannot be stored)
        current = fresh;
    }
    return current;
}

bool VValueBag::ReplaceElementByPath(const StKeyPath& names, VValueBag* child)
{
    if (names.empty())
        return false;
    if (names.size() == 1)
        return ReplaceElement(names[0], child);
    StKeyPath parentPath(names.begin(), names.end() - 1);
    if (child != nullptr) {
        VValueBag* parent = GetElementByPathAndCreateIfDontExists(parentPath);
        return parent != nullptr && parent->ReplaceElement(names.back(), child);
    }
    VValueBag* parent = GetUniqueElementByPath(parentPath);
    if (parent != nullptr)
        parent->RemoveElements(names.back());
    return true;
}

// ---------------------------------------------------------------------------
// Merging
// ---------------------------------------------------------------------------

bool VValueBag::_MergeFrom(const VValueBag& source, bool override)
{
    bool ok = true;
    for (int n = 1; n <= source.GetAttributesCount(); ++n) {
        StPackedDictionaryKey name = source.fAttributes.GetKeyAt(static_cast<size_t>(n - 1));
        const VValueSingle* value = source.fAttributes.GetValueAt(static_cast<size_t>(n - 1));
        if (value != nullptr)  // a record of an unknown kind has no value to copy
            SetAttribute(StPackedDictionaryKey(name.GetKeyPtr(), name.GetKeyLength()), *value);
    }
    for (int e = 1; ok && e <= source.GetElementNamesCount(); ++e) {
        StPackedDictionaryKey borrowed = source.fElements->GetKeyAt(static_cast<size_t>(e - 1));
        StPackedDictionaryKey name(borrowed.GetKeyPtr(), borrowed.GetKeyLength());
        VBagArray* sourceList = source.fElements->GetValueAt(static_cast<size_t>(e - 1));
        if (sourceList == nullptr)
            continue;
        VBagArray* ownList = GetElements(name);
        if (override && ownList != nullptr && ownList->GetCount() == 1 && sourceList->GetCount() == 1) {
            ok = ownList->_GetNth(1)->Override(sourceList->_GetNth(1));
            continue;
        }
        for (int k = 1; k <= sourceList->GetCount(); ++k) {
            VValueBag* clone = sourceList->_GetNth(k)->Clone();
            if (clone == nullptr) {
                ok = false;
                break;
            }
            AddElement(name, clone);
            clone->Release();
        }
    }
    return ok;
}

bool VValueBag::UnionClone(const VValueBag* source)
{
    if (source == nullptr)
        return true;
    if (_HasDescendant(source)) {
        // Merging a bag with itself or with one of its own children: work
        // on a snapshot so that the walk never sees its own additions.
        VValueBag snapshot(*source);
        return _MergeFrom(snapshot, false);
    }
    return _MergeFrom(*source, false);
}

bool VValueBag::Override(const VValueBag* source)
{
    if (source == nullptr)
        return true;
    if (_HasDescendant(source)) {
        VValueBag snapshot(*source);
        return _MergeFrom(snapshot, true);
    }
    return _MergeFrom(*source, true);
}

// ---------------------------------------------------------------------------
// Sorting element names
// ---------------------------------------------------------------------------

bool PositionComparatorStrict(const std::pair<int, int>& a, const std::pair<int, int>& b)
{
    return a.second < b.second;
}

void VValueBag::SortElements(const StPackedDictionaryKey& elementName, const StBagElementsOrdering* table)
{
    if (table == nullptr || GetElementNamesCount() == 0)
        return;
    for (const StBagElementsOrdering* record = table; record->fElementName != nullptr; ++record) {
        if (*record->fElementName == elementName) {
            _SortElements(record, table);
            return;
        }
    }
}

void VValueBag::_SortElements(const StBagElementsOrdering* record, const StBagElementsOrdering* table)
{
    StDepth depth;
    if (depth.TooDeep() || fElements == nullptr)
        return;
    size_t count = fElements->GetCount();
    if (count >= 2) {
        std::vector<std::pair<int, int>> ranks;
        bool outOfOrder = false;
        for (size_t i = 0; i < count; ++i) {
            StPackedDictionaryKey name = fElements->GetKeyAt(i);
            int rank = 0;
            for (int k = 0; k < 10 && record->fChildren[k] != nullptr; ++k) {
                if (*record->fChildren[k] == name) {
                    rank = k + 1;
                    break;
                }
            }
            if (!ranks.empty() && rank != 0 && rank < ranks.back().second)
                outOfOrder = true;
            ranks.emplace_back(static_cast<int>(i), rank);
        }
        if (outOfOrder) {
            std::stable_sort(ranks.begin(), ranks.end(), PositionComparatorStrict);
            Elements* sorted = new (std::nothrow) Elements();
            if (sorted != nullptr) {
                bool ok = true;
                for (const auto& entry : ranks) {
                    StPackedDictionaryKey borrowed = fElements->GetKeyAt(static_cast<size_t>(entry.first));
                    StPackedDictionaryKey name(borrowed.GetKeyPtr(), borrowed.GetKeyLength());
                    VBagArray* list = fElements->GetValueAt(static_cast<size_t>(entry.first));
                    if (!sorted->SetValue(name, list))
                        ok = false;
                }
                if (ok) {
                    delete fElements;  // each list keeps the reference the new dictionary took
                    fElements = sorted;
                } else {
                    delete sorted;
                }
            }
        }
    }
    for (size_t i = 0; i < fElements->GetCount(); ++i) {
        StPackedDictionaryKey name = fElements->GetKeyAt(i);
        const StBagElementsOrdering* childRecord = nullptr;
        for (const StBagElementsOrdering* r = table; r->fElementName != nullptr; ++r) {
            if (*r->fElementName == name) {
                childRecord = r;
                break;
            }
        }
        if (childRecord == nullptr)
            continue;
        VBagArray* list = fElements->GetValueAt(i);
        for (int k = 1; list != nullptr && k <= list->GetCount(); ++k) {
            VValueBag* child = list->_GetNth(k);
            if (child->GetElementNamesCount() > 0)
                child->_SortElements(childRecord, table);
        }
    }
}

// ---------------------------------------------------------------------------
// Text dump
// ---------------------------------------------------------------------------

CharSet VValueBag::DebugDump(char* buffer, int& size) const
{
    if (!ProcessObjectExists() || buffer == nullptr || size <= 0) {
        size = 0;
        return VTC_UTF_16_SMALLENDIAN;
    }
    VString text;
    StDepth depth;
    for (int n = 1; n <= GetAttributesCount(); ++n) {
        VString name;
        const VValueSingle* value = GetNthAttribute(n, &name);
        text.AppendString(name);
        AppendAscii(text, " = ");
        if (value != nullptr) {
            VString valueText;
            value->GetString(valueText);
            text.AppendString(valueText);
        }
        text.AppendUniChar('\n');
    }
    for (int e = 1; e <= GetElementNamesCount(); ++e) {
        VString name;
        VBagArray* list = GetNthElementName(e, &name);
        int children = list != nullptr ? list->GetCount() : 0;
        AppendAscii(text, "=======\n");
        char number[16];
        std::snprintf(number, sizeof(number), "%d", children);
        AppendAscii(text, number);
        text.AppendUniChar(' ');
        text.AppendString(name);
        AppendAscii(text, " :\n");
        for (int k = 1; k <= children; ++k) {
            AppendAscii(text, "--\n");
            if (!depth.TooDeep()) {
                char childBuffer[1024];
                int childSize = sizeof(childBuffer);
                list->_GetNth(k)->DebugDump(childBuffer, childSize);
                text.AppendUniChars(reinterpret_cast<const UniChar*>(childBuffer), childSize / 2);
            }
        }
    }
    int units = std::min(text.GetLength(), size / 2);
    if (units > 0 && units < text.GetLength()) {
        UniChar last = text.GetCPointer()[units - 1];
        if (last >= 0xD800 && last <= 0xDBFF)
            --units;  // keep surrogate pairs whole
    }
    std::memcpy(buffer, text.GetCPointer(), static_cast<size_t>(units) * 2);
    size = units * 2;
    return VTC_UTF_16_SMALLENDIAN;
}

// ---------------------------------------------------------------------------
// Stream form ('VBAG')
// ---------------------------------------------------------------------------

namespace {
constexpr unsigned int kBagTag = 0x56424147;  // 'VBAG'
constexpr unsigned short kBagVersion = 1;
}  // namespace

VError VValueBag::WriteToStream(VStream* stream, int) const
{
    bagio::PutUInt32(stream, kBagTag);
    bagio::PutUInt16(stream, kBagVersion);
    bagio::PutUInt16(stream, 0);
    WriteToStreamMinimal(stream, true);
    return bagio::StreamError(stream);
}

VError VValueBag::WriteToStreamMinimal(VStream* stream, bool withIndex) const
{
    StDepth depth;
    bool withElements = GetElementNamesCount() > 0 && !depth.TooDeep();
    unsigned char flags = static_cast<unsigned char>((GetAttributesCount() > 0 ? 1 : 0) | (withElements ? 2 : 0));
    bagio::PutUInt8(stream, flags);
    if (flags & 1)
        fAttributes.WriteToStream(stream, withIndex);
    if (withElements)
        fElements->WriteToStream(stream, withIndex);
    return bagio::StreamError(stream);
}

VError VValueBag::ReadFromStream(VStream* stream, int)
{
    Destroy();
    if (bagio::StreamError(stream) != VE_OK)
        return bagio::StreamError(stream);
    unsigned int tag = 0;
    unsigned short version = 0;
    unsigned short reserved = 0;
    bagio::GetUInt32(stream, tag);
    bagio::GetUInt16(stream, version);
    bagio::GetUInt16(stream, reserved);
    if (bagio::StreamError(stream) != VE_OK)
        return bagio::StreamError(stream);
    if (tag != kBagTag)
        return QeltError(207);
    if (version != kBagVersion)
        return QeltError(212);
    return ReadFromStreamMinimal(stream);
}

VError VValueBag::ReadFromStreamMinimal(VStream* stream)
{
    Destroy();
    StDepth depth;
    if (depth.TooDeep()) {
        _ThrowError(bagio::kBadBagData);
        return bagio::kBadBagData;
    }
    unsigned char flags = 0;
    VError err = bagio::GetUInt8(stream, flags);
    if (err != VE_OK)
        return err;
    if (flags & ~3u) {
        _ThrowError(bagio::kBadBagData);
        return bagio::kBadBagData;
    }
    if (flags & 1) {
        err = fAttributes.ReadFromStream(stream);
        if (err != VE_OK)
            return err;
    }
    if (flags & 2) {
        Elements* elements = _EnsureElements();
        if (elements == nullptr) {
            _ThrowError(QeltError(100));
            return QeltError(100);
        }
        err = elements->ReadFromStream(stream);
    }
    return err;
}

namespace {

// Reads a string array in its stream form (a count, then per element a
// marker, 2 for a present string followed by its stream form). The names
// grow one by one as they arrive, whatever the count claims.
VError ReadStringArray(VStream* stream, std::vector<VString>& names)
{
    unsigned int count = 0;
    bagio::GetUInt32(stream, count);
    if (static_cast<int>(count) < 0)
        return bagio::StreamError(stream);
    for (unsigned int i = 0; i < count && bagio::StreamError(stream) == VE_OK; ++i) {
        unsigned int marker = 0;
        bagio::GetUInt32(stream, marker);
        names.emplace_back();
        if (marker == 2)
            names.back().ReadFromStream(stream, 0);
    }
    return bagio::StreamError(stream);
}

}  // namespace

VError VValueBag::_ReadFromStream_v1(VStream* stream)
{
    std::vector<VString> attributeNames;
    VError err = ReadStringArray(stream, attributeNames);
    if (err != VE_OK)
        return err;
    unsigned int count = 0;
    bagio::GetUInt32(stream, count);
    for (unsigned int i = 0; i < count && bagio::StreamError(stream) == VE_OK; ++i) {
        unsigned int kind = 0;
        bagio::GetUInt32(stream, kind);
        if (bagio::StreamError(stream) != VE_OK)
            break;
        // A value that cannot be made cannot be skipped either: the rest of
        // the stream would be misread.
        if (i >= attributeNames.size()) {
            _ThrowError(bagio::kBadBagData);
            return bagio::kBadBagData;
        }
        VValue* value = VValue::NewValueFromValueKind(static_cast<unsigned short>(kind & 0xFFFF));
        VValueSingle* single = value != nullptr ? value->IsVValueSingle() : nullptr;
        if (single == nullptr) {
            delete value;
            _ThrowError(bagio::kBadBagData);
            return bagio::kBadBagData;
        }
        single->ReadFromStream(stream, 0);
        if (bagio::StreamError(stream) == VE_OK)
            fAttributes.Append(StPackedDictionaryKey(attributeNames[i]), *single);
        delete single;
    }
    if (bagio::StreamError(stream) != VE_OK)
        return bagio::StreamError(stream);
    std::vector<VString> elementNames;
    err = ReadStringArray(stream, elementNames);
    if (err != VE_OK)
        return err;
    unsigned int lists = 0;
    bagio::GetUInt32(stream, lists);
    if (bagio::StreamError(stream) != VE_OK)
        return bagio::StreamError(stream);
    if (static_cast<int>(lists) < 1)
        return VE_OK;
    delete fElements;
    fElements = nullptr;
    Elements* elements = _EnsureElements();
    if (elements == nullptr) {
        _ThrowError(QeltError(100));
        return QeltError(100);
    }
    for (unsigned int i = 0; i < lists; ++i) {
        if (i >= elementNames.size()) {
            _ThrowError(bagio::kBadBagData);
            return bagio::kBadBagData;
        }
        VBagArray* list = new VBagArray();
        err = list->ReadFromStreamMinimal(stream);
        if (err != VE_OK || !elements->AppendAdopt(StPackedDictionaryKey(elementNames[i]), list)) {
            list->Release();
            if (err != VE_OK)
                return err;
        }
    }
    return bagio::StreamError(stream);
}

// ---------------------------------------------------------------------------
// JSON text
// ---------------------------------------------------------------------------

VError VValueBag::FromBinaryJSONValue(const VJSONValue&)
{
    return VE_OK;
}

VError VValueBag::GetJSONString(VString& text, unsigned int options) const
{
    text.Clear();
    int level = 0;
    return _GetJSONString(text, level, (options & kJSONWritePretty) != 0, options);
}

void AppendJSONNewline(VString& text, bool pretty)
{
    if (pretty)
        text.AppendUniChar('\n');
}

void AjustJSONTab(VString& text, int& level, bool pretty)
{
    if (pretty)
        AppendTabs(text, level);
}

namespace {

void AppendJSONOpening(VString& text, int& level, bool pretty, UniChar bracket)
{
    AppendJSONNewline(text, pretty);
    AjustJSONTab(text, level, pretty);
    text.AppendUniChar(bracket);
    ++level;
}

void AppendJSONClosing(VString& text, int& level, bool pretty, UniChar bracket)
{
    --level;
    AppendJSONNewline(text, pretty);
    AjustJSONTab(text, level, pretty);
    text.AppendUniChar(bracket);
}

}  // namespace

void AppendBeginJSONObject(VString& text, int& level, bool pretty) { AppendJSONOpening(text, level, pretty, '{'); }

void AppendBeginJSONArray(VString& text, int& level, bool pretty) { AppendJSONOpening(text, level, pretty, '['); }

void AppendEndJSONObject(VString& text, int& level, bool pretty) { AppendJSONClosing(text, level, pretty, '}'); }

void AppendEndJSONArray(VString& text, int& level, bool pretty) { AppendJSONClosing(text, level, pretty, ']'); }

void AppendJSONPropertyName(VString& text, int& level, bool pretty, const VString& name)
{
    AppendJSONNewline(text, pretty);
    AjustJSONTab(text, level, pretty);
    VString quotedName;
    name.GetJSONString(quotedName, kJSONWriteQuoted);
    text.AppendString(quotedName);
    AppendAscii(text, pretty ? " : " : ":");
}

VError VValueBag::_GetJSONString(VString& text, int& level, bool pretty, unsigned int options) const
{
    StDepth depth;
    size_t fake = fAttributes._Find(kFakeArrayElement);
    if (fake < fAttributes.GetCount()) {
        const VValueSingle* value = fAttributes.GetValueAt(fake);
        if (value != nullptr) {
            AppendValueJSON(text, value);
            return VE_OK;
        }
    }
    AppendBeginJSONObject(text, level, pretty);
    int members = 0;
    auto propertyName = [&](const VString& name) {
        if (members++ > 0)
            text.AppendUniChar(',');
        AppendJSONPropertyName(text, level, pretty, name);
    };
    for (size_t i = 0; i < fAttributes.GetCount(); ++i) {
        unsigned long length = 0;
        const char* bytes = fAttributes.GetKeyBytesAt(i, length);
        if (IsReservedForText(bytes, length))
            continue;
        VString name;
        if (CDataAttributeName().Equal(bytes, length))
            name.FromCString("__CDATA");
        else
            DecodeUTF8ToString(bytes, length, name);
        propertyName(name);
        AppendValueJSON(text, fAttributes.GetValueAt(i));
    }
    for (int e = 1; e <= GetElementNamesCount(); ++e) {
        VString name;
        VBagArray* list = GetNthElementName(e, &name);
        propertyName(name);
        if (depth.TooDeep() || list == nullptr) {
            AppendAscii(text, "null");
            continue;
        }
        if (list->GetCount() == 1) {
            VValueBag* child = list->_GetNth(1);
            size_t unic = child->fAttributes._Find(kObjectUnic);
            bool single = (options & 0x20) != 0 ||
                          (unic < child->fAttributes.GetCount() && child->fAttributes.GetValueAt(unic) != nullptr);
            if (single) {
                child->_GetJSONString(text, level, pretty, options);
                continue;
            }
        }
        list->_GetJSONString(text, level, pretty, options);
    }
    AppendEndJSONObject(text, level, pretty);
    return VE_OK;
}

// ---------------------------------------------------------------------------
// JSON object
// ---------------------------------------------------------------------------

VJSONObject* VValueBag::BuildJSONObject(VError& outError) const
{
    // The bag's JSON object is what reading its JSON text gives, with quoted
    // dates (an ISO date alone, or a text between "!!" marks) read as dates.
    VString text;
    outError = GetJSONString(text, 0);
    if (outError != VE_OK)
        return nullptr;
    VJSONValue value(JSON_undefined);
    outError = value.ParseFromString(text, true, false);
    if (outError != VE_OK || !value.IsObject())
        return nullptr;
    return value.RetainObject();
}

VError VValueBag::FromJSONString(const VString& text, unsigned int options)
{
    VJSONImporter importer(text, (options >> 3) & kJSONImportStrictDates);
    return importer.JSONObjectToBag(*this);
}

VError VValueBag::FromJSONValue(const VJSONValue& value)
{
    VString text;
    VError error = value.Stringify(text, kJSONWriteQuoted);
    if (error != VE_OK)
        return error;
    return FromJSONString(text, 0);
}

VError VValueBag::GetJSONValue(VJSONValue& value, unsigned int) const
{
    VError err = VE_OK;
    VJSONObject* object = BuildJSONObject(err);
    if (object != nullptr) {
        value.SetObject(object);
        object->Release();
    } else {
        value.SetUndefined();
    }
    return err;
}

// ---------------------------------------------------------------------------
// XML text
// ---------------------------------------------------------------------------

void VValueBag::DumpXML(VString& text, const VString& elementName, bool indented) const
{
    _DumpXML(text, elementName, indented ? 0 : -1);
}

void VValueBag::DumpXMLIndentation(VString& text, int level)
{
    AppendTabs(text, std::min(level, 100));
}

void VValueBag::_DumpXML(VString& text, const VString& elementName, int level) const
{
    StDepth depth;
    if (level > 0)
        DumpXMLIndentation(text, level);
    size_t cdataIndex = fAttributes._Find(CDataAttributeName());
    int cdataPosition = cdataIndex < fAttributes.GetCount() ? static_cast<int>(cdataIndex) + 1 : 0;
    DumpXMLAttributes(text, elementName, cdataPosition, 0);
    bool hasChildren = GetElementNamesCount() > 0;
    if (hasChildren && !depth.TooDeep()) {
        int childLevel = level >= 0 ? level + 1 : -1;
        for (int e = 1; e <= GetElementNamesCount(); ++e) {
            VString name;
            VBagArray* list = GetNthElementName(e, &name);
            for (int k = 1; list != nullptr && k <= list->GetCount(); ++k) {
                text.AppendUniChar('\n');
                list->_GetNth(k)->_DumpXML(text, name, childLevel);
            }
        }
    }
    if (!hasChildren && cdataPosition == 0)
        return;
    bool nothing = true;
    if (cdataPosition != 0)
        nothing = DumpXMLCData(text, cdataPosition);
    if (level >= 0 && nothing) {
        text.AppendUniChar('\n');
        DumpXMLIndentation(text, level);
    }
    AppendAscii(text, "</");
    text.AppendString(elementName);
    text.AppendUniChar('>');
}

void VValueBag::DumpXMLAttributes(VString& text, const VString& elementName, int cdataPosition, int) const
{
    text.AppendUniChar('<');
    text.AppendString(elementName);
    for (size_t i = 0; i < fAttributes.GetCount(); ++i) {
        if (static_cast<int>(i) + 1 == cdataPosition)
            continue;
        unsigned long length = 0;
        const char* bytes = fAttributes.GetKeyBytesAt(i, length);
        if (IsReservedForText(bytes, length))
            continue;
        VString name;
        DecodeUTF8ToString(bytes, length, name);
        text.AppendUniChar(' ');
        text.AppendString(name);
        AppendAscii(text, "=\"");
        AppendValueXML(text, fAttributes.GetValueAt(i));
        text.AppendUniChar('"');
    }
    if (GetElementNamesCount() == 0 && cdataPosition == 0)
        text.AppendUniChar('/');
    text.AppendUniChar('>');
}

bool VValueBag::NeedsEscapeSequence(const VString& text, const UniChar* begin, const UniChar* end)
{
    const UniChar* p = text.GetCPointer();
    int n = text.GetLength();
    if (n == 0)
        return false;
    bool lineBreak = false;
    bool other = false;
    for (int i = 0; i < n; ++i) {
        UniChar c = p[i];
        for (const UniChar* s = begin; s != end; ++s) {
            if (*s == c)
                return true;
        }
        if (c == 9 || c == 10 || c == 13)
            lineBreak = true;
        else if (c != ' ')
            other = true;
    }
    return lineBreak && other;
}

bool VValueBag::DumpXMLCData(VString& text, int cdataPosition) const
{
    if (cdataPosition < 1 || cdataPosition > GetAttributesCount())
        return true;
    const VValueSingle* value = fAttributes.GetValueAt(static_cast<size_t>(cdataPosition - 1));
    if (value == nullptr)
        return true;
    VString cdata;
    value->GetString(cdata);
    int n = cdata.GetLength();
    if (n == 0)
        return true;
    static const UniChar kSpecial[] = {'&', '<', '>', '"', '\''};
    const UniChar* p = cdata.GetCPointer();
    if (!NeedsEscapeSequence(cdata, kSpecial, kSpecial + 5)) {
        int before = text.GetLength();
        AppendXMLFiltered(text, p, 0, n, false, false);
        return text.GetLength() == before;
    }
    AppendAscii(text, "<![CDATA[");
    int start = 0;  // 0-based
    while (start < n) {
        int found = -1;
        for (int i = start; i + 2 < n; ++i) {
            if (p[i] == ']' && p[i + 1] == ']' && p[i + 2] == '>') {
                found = i;
                break;
            }
        }
        if (found < 0) {
            AppendXMLFiltered(text, p, start, n, true, true);
            break;
        }
        // The text up to and including "]]>" closes the section; "]]" and a
        // new section holding ">" follow, so a reader gets "]]>" back.
        AppendXMLFiltered(text, p, start, found + 3, true, true);
        AppendAscii(text, "]]<![CDATA[>");
        start = found + 3;
    }
    AppendAscii(text, "]]>");
    return false;
}

}  // namespace qelt

// ---------------------------------------------------------------------------
// Typed value from the text of an XML attribute
// ---------------------------------------------------------------------------

namespace qelt {

namespace {

// White space of the trim: the Unicode space separators and line breaks.
bool IsXMLValueSpace(UniChar c)
{
    return (c >= 9 && c <= 13) || c == 0x20 || c == 0x85 || c == 0xA0 || c == 0x1680 ||
           (c >= 0x2000 && c <= 0x200A) || c == 0x2028 || c == 0x2029 || c == 0x202F || c == 0x205F ||
           c == 0x3000;
}

bool IsDigit(UniChar c) { return c >= '0' && c <= '9'; }

bool Matches(const UniChar* p, int begin, int end, const char* word)
{
    int n = static_cast<int>(std::strlen(word));
    if (end - begin != n)
        return false;
    for (int i = 0; i < n; ++i) {
        if (p[begin + i] != static_cast<UniChar>(word[i]))
            return false;
    }
    return true;
}

// A UUID value from 32 hexadecimal digits (dashes between digits allowed,
// optionally in braces), made through the kind registry from its raw form.
VValueSingle* TryParseUUID(const UniChar* p, int begin, int end)
{
    if (end - begin < 32)
        return nullptr;
    if (p[begin] == '{') {
        ++begin;
        if (end > begin && p[end - 1] == '}')
            --end;
    }
    unsigned char bytes[16] = {0};
    int digits = 0;
    int i = begin;
    for (; i < end; ++i) {
        UniChar c = p[i];
        if ((c == '-' || c == 0x2212) && digits > 0)
            continue;
        int v = plat::HexDigitValue(c);
        if (v < 0 || digits >= 32)
            break;
        bytes[digits / 2] = static_cast<unsigned char>(bytes[digits / 2] | (digits % 2 == 0 ? v << 4 : v));
        ++digits;
    }
    if (digits != 32 || i != end)
        return nullptr;
    const VValueInfo* info = VValue::ValueInfoFromValueKind(VK_UUID);
    if (info == nullptr)
        return nullptr;
    VValue* value = info->LoadFromPtr(bytes, false);
    VValueSingle* single = value != nullptr ? value->IsVValueSingle() : nullptr;
    if (single == nullptr)
        delete value;
    return single;
}

VValueSingle* ParseNumber(const UniChar* p, int begin, int end, bool negative)
{
    char buffer[200];
    int used = 0;
    auto put = [&](char c) {
        if (used < 199)
            buffer[used++] = c;
    };
    if (negative)
        put('-');
    unsigned long long magnitude = 0;
    bool overflow = false;
    bool isReal = false;
    int i = begin;
    for (; i < end && IsDigit(p[i]); ++i) {
        unsigned int d = p[i] - '0';
        if (magnitude > (0x7FFFFFFFFFFFFFFFull - d) / 10)
            overflow = true;
        else
            magnitude = magnitude * 10 + d;
        put(static_cast<char>(p[i]));
    }
    if (i < end && p[i] == '.') {
        isReal = true;
        put('.');
        ++i;
        if (i >= end || !IsDigit(p[i]))
            return nullptr;  // a point must be followed by a digit
        for (; i < end && IsDigit(p[i]); ++i)
            put(static_cast<char>(p[i]));
    }
    if (i < end && (p[i] == 'e' || p[i] == 'E')) {
        isReal = true;
        put('E');
        ++i;
        if (i < end && (p[i] == '-' || p[i] == 0x2212)) {
            put('-');
            ++i;
        } else if (i < end && p[i] == '+') {
            ++i;
        }
        if (i >= end || !IsDigit(p[i]))
            return nullptr;
        for (; i < end && IsDigit(p[i]); ++i)
            put(static_cast<char>(p[i]));
    }
    if (i != end)
        return nullptr;
    buffer[used] = 0;
    if (isReal) {
        const char* stop = nullptr;
        bool outOfRange = false;
        double d = plat::ReadCDouble(buffer, &stop, &outOfRange);
        if (outOfRange || stop == buffer)
            return nullptr;
        return new VReal(d);
    }
    if (overflow)
        return nullptr;
    long long value = negative ? -static_cast<long long>(magnitude) : static_cast<long long>(magnitude);
    if (magnitude > 0x7FFFFFFFull)
        return new VLong8(value);
    return new VLong(static_cast<int>(value));
}

}  // namespace

VValueSingle* ParseXMLValue(const VString& text)
{
    const UniChar* p = text.GetCPointer();
    int begin = 0;
    int end = text.GetLength();
    while (begin < end && IsXMLValueSpace(p[begin]))
        ++begin;
    while (end > begin && IsXMLValueSpace(p[end - 1]))
        --end;
    bool plus = false;
    bool negative = false;
    if (begin < end && p[begin] == '+') {
        plus = true;
        ++begin;
    } else if (begin < end && (p[begin] == '-' || p[begin] == 0x2212)) {
        negative = true;
        ++begin;
    }
    bool signed_ = plus || negative;
    int trimmedBegin = signed_ ? begin - 1 : begin;
    VValueSingle* result = nullptr;
    if (begin < end) {
        UniChar first = p[begin];
        if (IsDigit(first)) {
            result = ParseNumber(p, begin, end, negative);
            if (result == nullptr && !signed_)
                result = TryParseUUID(p, trimmedBegin, end);
        } else if (first == 'I') {
            if (!plus && Matches(p, begin, end, "INF"))
                result = new VReal(negative ? -HUGE_VAL : HUGE_VAL);
        } else if (first == 'N') {
            if (!signed_ && Matches(p, begin, end, "NaN"))
                result = new VReal(std::nan(""));
        } else if (first == 'f') {
            if (!signed_) {
                if (Matches(p, begin, end, "false"))
                    result = new VBoolean(false);
                else
                    result = TryParseUUID(p, begin, end);
            }
        } else if (first == 't') {
            if (!signed_ && Matches(p, begin, end, "true"))
                result = new VBoolean(true);
        } else if (first == '{') {
            if (!signed_)
                result = TryParseUUID(p, begin, end);
        }
    }
    if (result == nullptr)
        result = new VString(text);
    return result;
}

}  // namespace qelt
