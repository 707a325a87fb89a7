// The value bag: a reference-counted tree whose nodes hold attributes (named
// single values) and elements (named, ordered lists of child bags). It is the
// toolbox's carrier of structured data (error parameters, log records,
// settings, XML documents) and a value of kind 200. Names are UTF-8 keys of
// at most 255 bytes, compared byte for byte; attribute names and element
// names are separate name spaces, each kept in insertion order.
#pragma once

#include <utility>
#include <vector>

#include "kernel/IRefCountable.h"
#include "kernel/VKernelTypes.h"
#include "kernel/VValue.h"
#include "kernel/VValueInfo.h"
#include "values/IBaggable.h"
#include "values/StPackedDictionaryKey.h"
#include "values/VPackedDictionary.h"

namespace qelt {

class VBagArray;
class VString;
class VStream;
class VJSONValue;
class VJSONObject;

class VValueBag : public VValue, public IRefCountable {
public:
    using Attributes = VPackedDictionary_with_backstore<VPackedValue_VValueSingle>;
    using Elements = VPackedDictionary<VPackedValue_VBagArray>;
    using StKeyPath = std::vector<StPackedDictionaryKey>;

    // A record of a table of element orderings: the element name it applies
    // to, then up to ten child element names in the wanted order (the list
    // ends at the first null). A table ends with a record whose first is null.
    struct StBagElementsOrdering {
        const StPackedDictionaryKey* fElementName;
        const StPackedDictionaryKey* fChildren[10];
    };

    static VValueInfo_default<VValueBag, VK_BAG> sInfo;

    VValueBag();
    // Deep copy: no child is shared with the source.
    VValueBag(const VValueBag& source);
    VValueBag& operator=(const VValueBag&) = delete;
    ~VValueBag() override;

    // VValue
    const VValueInfo* GetValueInfo() const override;
    VValueBag* Clone() const override;
    VError ReadFromStream(VStream* stream, int param = 0) override;
    VError WriteToStream(VStream* stream, int param = 0) const override;
    VError GetJSONString(VString& text, unsigned int options) const override;
    // The destination becomes the bag's JSON object, or undefined (with the
    // error) when the bag's JSON text does not make an object.
    VError GetJSONValue(VJSONValue& value, unsigned int options) const override;
    // Adds the members of one JSON object to the bag (nothing is emptied
    // first); option 0x1000 reads only "!!YYYY-MM-DD!!" strings as dates.
    VError FromJSONString(const VString& text, unsigned int options) override;
    // The value written as JSON text, then read as above.
    VError FromJSONValue(const VJSONValue& value) override;
    CharSet DebugDump(char* buffer, int& size) const override;

    // Removes every attribute and every element name.
    void Destroy();
    bool IsEmpty() const;

    // Attributes.
    // Sets the value (appended when the name is new). False when the name
    // cannot be stored (longer than 255 bytes).
    bool SetAttribute(const StPackedDictionaryKey& name, const VValueSingle& value);
    bool GetAttribute(const StPackedDictionaryKey& name, VValueSingle& value) const
    {
        return fAttributes.GetValue(name, value);
    }
    void RemoveAttribute(const StPackedDictionaryKey& name);
    int GetAttributesCount() const { return static_cast<int>(fAttributes.GetCount()); }
    // The value at the 1-based position (owned by the bag) and its name;
    // out of range: null and an emptied name.
    const VValueSingle* GetNthAttribute(int n, VString* outName) const;
    // The key "<>" that holds the text of an XML element.
    static const StPackedDictionaryKey& CDataAttributeName();
    void AppendToCData(const VString& text);

    // Elements.
    int GetElementNamesCount() const;
    VBagArray* GetNthElementName(int n, VString* outName) const;
    VBagArray* GetElements(const StPackedDictionaryKey& name) const;
    // Stores the list under the name (retained). A null list is refused.
    void SetElements(const StPackedDictionaryKey& name, VBagArray* list);
    // Appends the child (retained) to the name's list; null is ignored, and
    // so is a child that would make this bag its own descendant.
    void AddElement(const StPackedDictionaryKey& name, VValueBag* child);
    VError AddElement(const IBaggable* object);
    void RemoveElements(const StPackedDictionaryKey& name);
    // Makes the child the name's only child; null removes the name.
    bool ReplaceElement(const StPackedDictionaryKey& name, VValueBag* child);
    const VValueBag* GetUniqueElementAnyKind(VString& outName) const;
    VValueBag* RetainUniqueElementWithAttribute(const StPackedDictionaryKey& elementName,
                                                const StPackedDictionaryKey& attributeName,
                                                const VValueSingle& value) const;

    // Paths of element names separated by "/".
    static void GetKeysFromPath(const VString& path, StKeyPath& keys);
    static void GetKeysFromUTF8PathNoCopy(const char* path, StKeyPath& keys);
    VValueBag* GetUniqueElementByPath(const StKeyPath& names);
    const VValueBag* GetUniqueElementByPath(const StKeyPath& names) const;
    VValueBag* GetUniqueElementByPath(const VString& path);
    const VValueBag* GetUniqueElementByPath(const VString& path) const;
    VValueBag* GetElementByPathAndCreateIfDontExists(const StKeyPath& names);
    bool ReplaceElementByPath(const StKeyPath& names, VValueBag* child);

    // Merging: attributes are set from the source; UnionClone appends copies
    // of the source's children, Override merges single children into single
    // children. A source that is this bag (or one of its own descendants)
    // is merged from a snapshot.
    bool UnionClone(const VValueBag* source);
    bool Override(const VValueBag* source);

    void SortElements(const StPackedDictionaryKey& elementName, const StBagElementsOrdering* table);
    void _SortElements(const StBagElementsOrdering* record, const StBagElementsOrdering* table);

    // Stream form ('VBAG').
    VError WriteToStreamMinimal(VStream* stream, bool withIndex) const;
    VError ReadFromStreamMinimal(VStream* stream);
    VError _ReadFromStream_v1(VStream* stream);

    // JSON text. The binary JSON form carries no bag: nothing is read.
    VError FromBinaryJSONValue(const VJSONValue& value);
    VError _GetJSONString(VString& text, int& level, bool pretty, unsigned int options) const;
    // The JSON object that reading the bag's JSON text (options 0) gives,
    // with one reference for the caller; null, with the error stored, when
    // that text does not make an object.
    VJSONObject* BuildJSONObject(VError& outError) const;

    // XML text.
    void DumpXML(VString& text, const VString& elementName, bool indented) const;
    void _DumpXML(VString& text, const VString& elementName, int level) const;
    static void DumpXMLIndentation(VString& text, int level);
    void DumpXMLAttributes(VString& text, const VString& elementName, int cdataPosition, int unused) const;
    bool DumpXMLCData(VString& text, int cdataPosition) const;
    static bool NeedsEscapeSequence(const VString& text, const UniChar* begin, const UniChar* end);

    // Direct access to the dictionaries (tests, the stream code).
    const Attributes& GetAttributesDictionary() const { return fAttributes; }
    const Elements* GetElementsDictionary() const { return fElements; }

    // Bags nest at most this deep in the stream, JSON and XML readers and
    // writers; deeper data is refused as bad.
    static constexpr int kMaxDepth = 256;

private:
    // True when `bag` is this bag or lies below it.
    bool _HasDescendant(const VValueBag* bag) const;
    VError _ReadBody(VStream* stream, int depth);
    VError _WriteBody(VStream* stream, bool withIndex, int depth) const;
    bool _MergeFrom(const VValueBag& source, bool override);
    Elements* _EnsureElements();

    friend class VBagArray;

    Attributes fAttributes;
    Elements* fElements = nullptr;
};

// A new value of the best-fitting kind for the text of an XML attribute,
// owned by the caller.
VValueSingle* ParseXMLValue(const VString& text);

bool PositionComparatorStrict(const std::pair<int, int>& a, const std::pair<int, int>& b);

// The layout steps of JSON text written by bags and bag lists. `level` is
// the current nesting depth; with `pretty` off only the punctuation is
// written (no new line, no tab).
// A new line, when pretty.
void AppendJSONNewline(VString& text, bool pretty);
// `level` tabs, when pretty.
void AjustJSONTab(VString& text, int& level, bool pretty);
// A new line and the level's tabs when pretty, then "{" or "["; one level deeper.
void AppendBeginJSONObject(VString& text, int& level, bool pretty);
void AppendBeginJSONArray(VString& text, int& level, bool pretty);
// One level up; a new line and that level's tabs when pretty, then "}" or "]".
void AppendEndJSONObject(VString& text, int& level, bool pretty);
void AppendEndJSONArray(VString& text, int& level, bool pretty);
// A new line and the level's tabs when pretty, the name as a quoted JSON
// string, then " : " when pretty, else ":".
void AppendJSONPropertyName(VString& text, int& level, bool pretty, const VString& name);

}  // namespace qelt

#include "values/StBagKey.h"
