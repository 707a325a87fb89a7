#include "json/VJSONTools.h"

#include "json/VJSONArray.h"
#include "json/VJSONClassStore.h"
#include "json/VJSONImporter.h"
#include "json/VJSONObject.h"
#include "json/VJSONPropertyIterator.h"
#include "json/VJSONUser.h"
#include "json/VJSONWriter.h"
#include "kernel/VReal.h"
#include "json/VProcessServices_json.h"
#include "values/VTime.h"

namespace qelt {

// ---------------------------------------------------------------------------
// VJSONAlter

namespace {

// Makes the value an object when it is not one.
void MakeObject(VJSONValue& ioValue)
{
    if (!ioValue.IsObject() || ioValue.GetObject() == nullptr)
        ioValue = VJSONValue(JSON_object);
}

}  // namespace

void VJSONAlter::_Set(VJSONValue& ioValue, const VString& inPath, const VJSONValue& inNewValue)
{
    MakeObject(ioValue);
    ioValue.GetObject()->SetPropertyWithPath(inPath, inNewValue, nullptr);
}

VJSONAlter::VJSONAlter(VJSONValue& ioValue) { MakeObject(ioValue); }

VJSONAlter::VJSONAlter(VJSONValue& ioValue, const VString& inPath)
{
    if (VJSONObject* object = ioValue.GetObject())
        object->RemoveProperty(inPath);
}

VJSONAlter::VJSONAlter(VJSONValue& ioValue, const VString& inPath, bool inFlag)
{
    _Set(ioValue, inPath, VJSONValue(inFlag ? JSON_true : JSON_false));
}

VJSONAlter::VJSONAlter(VJSONValue& ioValue, const VString& inPath, int inNumber)
{
    _Set(ioValue, inPath, VJSONValue(static_cast<double>(inNumber)));
}

VJSONAlter::VJSONAlter(VJSONValue& ioValue, const VString& inPath, double inNumber)
{
    _Set(ioValue, inPath, VJSONValue(inNumber));
}

VJSONAlter::VJSONAlter(VJSONValue& ioValue, const VString& inPath, const VString& inText)
{
    _Set(ioValue, inPath, VJSONValue(inText));
}

VJSONAlter::VJSONAlter(VJSONValue& ioValue, const VString& inPath, const char* inText)
{
    _Set(ioValue, inPath, VJSONValue(VString(inText)));
}

VJSONAlter::VJSONAlter(VJSONValue& ioValue, const VString& inPath, const UniChar* inText)
{
    _Set(ioValue, inPath, VJSONValue(VString(inText)));
}

VJSONAlter::VJSONAlter(VJSONValue& ioValue, const VString& inPath, const VJSONValue& inNewValue)
{
    _Set(ioValue, inPath, inNewValue);
}

VJSONAlter::VJSONAlter(VJSONValue& ioValue, const VString& inPath, JSONType inType, VJSONArray** outArray)
{
    VJSONValue created(inType);
    if (outArray != nullptr)
        *outArray = created.GetArray();
    _Set(ioValue, inPath, created);
}

VJSONAlter::VJSONAlter(VJSONValue& ioValue, const VString& inPath, const VTime& inTime)
{
    VString text;
    inTime.GetJSONString(text, 0);
    _Set(ioValue, inPath, VJSONValue(text));
}

// ---------------------------------------------------------------------------
// VJSONIter

VJSONIter::VJSONIter(VJSONObject* inObject, int inStart, int inEnd, bool inToEnd)
    : fTarget(inObject), fEnd(inEnd), fStart(inStart)
{
    if (inObject == nullptr)
        return;
    if (IJSONObject* implementation = inObject->GetImplementation()) {
        IJSONIterator* iterator = implementation->IJSON_MakeIterator(inObject, static_cast<size_t>(inStart),
                                                                     static_cast<size_t>(inEnd), inToEnd);
        if (iterator != nullptr) {
            fImplementation = implementation;
            fImplementationIterator = iterator;
            return;
        }
    }
    for (VJSONPropertyConstOrderedIterator it(inObject, 0); it.IsValid(); it.Next())
        fNames.push_back(it.GetName());
}

VJSONIter::VJSONIter(VJSONArray* inArray, int inStart, int inEnd, bool inToEnd) : fTarget(inArray)
{
    const int32_t count = inArray != nullptr ? static_cast<int32_t>(inArray->GetCount()) : 0;
    fStart = inStart < 0 ? inStart + count : inStart;
    if (fStart < 0)
        fStart = 0;
    if (inToEnd) {
        fEnd = count;
    } else {
        fEnd = inEnd < 0 ? inEnd + count : inEnd;
        if (fEnd > count)
            fEnd = count;
    }
}

VJSONIter::~VJSONIter()
{
    if (fImplementationIterator != nullptr)
        fImplementationIterator->Release();
}

bool VJSONIter::NextValue(VJSONValue& outValue)
{
    outValue.SetUndefined();
    if (VJSONArray* array = fTarget.GetArray()) {
        VJSONUser user(array, false);
        if (fStart < fEnd && static_cast<size_t>(fStart) < array->GetCount()) {
            array->GetAt(static_cast<size_t>(fStart), outValue);
            ++fStart;
            return true;
        }
        return false;
    }
    if (fImplementationIterator != nullptr)
        return fImplementationIterator->Next(outValue);
    if (fNextName < fNames.size()) {
        outValue.SetString(fNames[fNextName++]);
        return true;
    }
    return false;
}

// ---------------------------------------------------------------------------
// VJSONArrayWriter

VJSONArrayWriter::VJSONArrayWriter() { fText.AppendUniChar('['); }

VJSONArrayWriter::~VJSONArrayWriter() = default;

void VJSONArrayWriter::_Open()
{
    if (!fClosed)
        return;
    // The closing bracket goes; a text that holds items gets back the comma
    // that follows every item while the text is open.
    const int length = fText.GetLength();
    if (length > 0)
        fText.Truncate(length - 1, false);
    if (length > 2)
        fText.AppendUniChar(',');
    else if (fText.IsEmpty())
        fText.AppendUniChar('[');
    fClosed = false;
}

void VJSONArrayWriter::_AppendItem(const VString& inItem)
{
    _Open();
    fText.AppendString(inItem);
    fText.AppendUniChar(',');
}

void VJSONArrayWriter::Add(const VValueSingle& inValue, unsigned int inOptions)
{
    VString item;
    if (inValue.GetJSONString(item, inOptions) == VE_OK)
        _AppendItem(item);
}

void VJSONArrayWriter::AddString(const VString& inText, unsigned int inOptions)
{
    VString item;
    if (inText.GetJSONString(item, inOptions) == VE_OK)
        _AppendItem(item);
}

void VJSONArrayWriter::AddString(const char* inText, unsigned int inOptions)
{
    if (inText != nullptr)
        Add(VString(inText), inOptions);
}

void VJSONArrayWriter::AddLong(int inNumber)
{
    _Open();
    fText.AppendLong(inNumber);
    fText.AppendUniChar(',');
}

void VJSONArrayWriter::AddReal(double inNumber)
{
    // The JSON number text: NaN and infinities are null, and a number read
    // back keeps its value.
    VString item;
    VReal::RealToJSONString(inNumber, item);
    _AppendItem(item);
}

void VJSONArrayWriter::AddBool(bool inFlag)
{
    _Open();
    fText.AppendCString(inFlag ? "true," : "false,");
}

void VJSONArrayWriter::AddLongs(const int* inNumbers, int inCount)
{
    if (inNumbers == nullptr || inCount <= 0)
        return;
    _Open();
    for (int i = 0; i < inCount; ++i)
        AddLong(inNumbers[i]);
}

void VJSONArrayWriter::AddWords(const short* inNumbers, int inCount)
{
    if (inNumbers == nullptr || inCount <= 0)
        return;
    _Open();
    for (int i = 0; i < inCount; ++i)
        AddLong(inNumbers[i]);
}

void VJSONArrayWriter::AddReals(const double* inNumbers, int inCount)
{
    if (inNumbers == nullptr || inCount <= 0)
        return;
    _Open();
    for (int i = 0; i < inCount; ++i)
        AddReal(inNumbers[i]);
}

void VJSONArrayWriter::AddBools(const char* inFlags, int inCount)
{
    if (inFlags == nullptr || inCount <= 0)
        return;
    _Open();
    for (int i = 0; i < inCount; ++i)
        AddBool(inFlags[i] != 0);
}

void VJSONArrayWriter::AddStrings(const std::vector<VString>& inTexts, unsigned int inOptions)
{
    _Open();
    for (const VString& text : inTexts)
        AddString(text, inOptions);
}

void VJSONArrayWriter::AddJSONArray(VJSONArrayWriter& ioOther)
{
    VString nested;
    ioOther.GetArray(nested, false);
    _AppendItem(nested);
}

void VJSONArrayWriter::Close()
{
    if (fClosed)
        return;
    if (fText.IsNull() || fText.IsEmpty()) {
        fText.FromCString("[]");
    } else if (fText.GetLength() == 1 && fText.GetCPointer()[0] == '[') {
        fText.AppendUniChar(']');
    } else {
        fText.Truncate(fText.GetLength() - 1, false);
        fText.AppendUniChar(']');
    }
    fClosed = true;
}

void VJSONArrayWriter::GetArray(VString& outText, bool inKeep)
{
    Close();
    outText.FromString(fText);
    if (!inKeep) {
        fText.FromCString("[]");
        fClosed = true;
    }
}

// ---------------------------------------------------------------------------
// VJSONSingleObjectWriter

VJSONSingleObjectWriter::VJSONSingleObjectWriter() { fText.AppendUniChar('{'); }

VJSONSingleObjectWriter::~VJSONSingleObjectWriter() = default;

bool VJSONSingleObjectWriter::AddMember(const VString& inName, const VValueSingle& inValue, unsigned int inOptions)
{
    VString value;
    if (inValue.GetJSONString(value, inOptions) != VE_OK || inName.IsNull() || inName.IsEmpty())
        return false;
    // The name is escaped like any JSON string, so that a quote or a control
    // character in it cannot break the text.
    VString name;
    if (inName.GetJSONString(name, kJSONWriteQuoted) != VE_OK)
        return false;
    if (fClosed) {
        fText.Truncate(fText.GetLength() - 1, false);
        fClosed = false;
    }
    if (fCount > 0)
        fText.AppendUniChar(',');
    fText.AppendString(name);
    fText.AppendUniChar(':');
    fText.AppendString(value);
    ++fCount;
    return true;
}

void VJSONSingleObjectWriter::GetObject(VString& outText)
{
    if (!fClosed) {
        fText.AppendUniChar('}');
        fClosed = true;
    }
    outText.FromString(fText);
}

// ---------------------------------------------------------------------------
// VJSONArrayReader

VJSONArrayReader::VJSONArrayReader() = default;

VJSONArrayReader::VJSONArrayReader(const VString& inText) { _Parse(inText); }

VJSONArrayReader::~VJSONArrayReader() = default;

void VJSONArrayReader::FromJSONString(const VString& inText)
{
    fError = VE_OK;
    fItems.clear();
    fCount = 0;
    _Parse(inText);
}

void VJSONArrayReader::_Parse(const VString& inText)
{
    const VError kMalformed = QeltError(550);
    fError = kMalformed;
    if (inText.IsNull() || inText.IsEmpty())
        return;
    VJSONImporter importer(inText, 0);
    VString token;
    bool isString = false;
    VError scanError = VE_OK;
    VJSONImporter::JsonToken kind;
    do {
        kind = importer.GetNextJSONToken(token, &isString, &scanError);
    } while (kind != VJSONImporter::jsonNone && kind != VJSONImporter::jsonBeginArray);
    if (kind == VJSONImporter::jsonNone)
        return;
    bool closed = false;
    for (;;) {
        kind = importer.GetNextJSONToken(token, &isString, &scanError);
        if (kind == VJSONImporter::jsonNone)
            break;
        if (kind == VJSONImporter::jsonEndArray) {
            closed = true;
            break;
        }
        if (kind == VJSONImporter::jsonString) {
            fItems.push_back(token);
        } else if (kind == VJSONImporter::jsonBeginArray) {
            // A nested array is skipped by counting brackets, without recursion.
            long depth = 1;
            while (depth > 0) {
                kind = importer.GetNextJSONToken(&scanError);
                if (kind == VJSONImporter::jsonNone)
                    break;
                if (kind == VJSONImporter::jsonBeginArray)
                    ++depth;
                else if (kind == VJSONImporter::jsonEndArray)
                    --depth;
            }
            if (depth > 0)
                break;
        }
    }
    if (!closed) {
        fItems.clear();
        return;
    }
    fError = VE_OK;
    fCount = static_cast<int32_t>(fItems.size());
}

int32_t VJSONArrayReader::GetCountOfElements(VError* outError) const
{
    if (outError != nullptr)
        *outError = fError;
    return fCount;
}

VError VJSONArrayReader::ToArrayShort(short* outValues) const
{
    if (fError != VE_OK || outValues == nullptr)
        return fError;
    for (size_t i = 0; i < fItems.size(); ++i)
        outValues[i] = fItems[i].GetWord();
    return VE_OK;
}

VError VJSONArrayReader::ToArrayLong(int* outValues) const
{
    if (fError != VE_OK || outValues == nullptr)
        return fError;
    for (size_t i = 0; i < fItems.size(); ++i)
        outValues[i] = fItems[i].GetLong();
    return VE_OK;
}

VError VJSONArrayReader::ToArrayReal(double* outValues) const
{
    if (fError != VE_OK || outValues == nullptr)
        return fError;
    for (size_t i = 0; i < fItems.size(); ++i)
        outValues[i] = fItems[i].GetReal();
    return VE_OK;
}

VError VJSONArrayReader::ToArrayBool(char* outValues) const
{
    if (fError != VE_OK || outValues == nullptr)
        return fError;
    static const VString sTrue("true");
    for (size_t i = 0; i < fItems.size(); ++i)
        outValues[i] = fItems[i].EqualToString(sTrue, false) ? 1 : 0;
    return VE_OK;
}

VError VJSONArrayReader::ToArrayString(std::vector<VString>& outValues, bool inAppend) const
{
    if (!inAppend)
        outValues.clear();
    if (fError == VE_OK)
        outValues.insert(outValues.end(), fItems.begin(), fItems.end());
    return fError;
}

// ---------------------------------------------------------------------------
// Function objects

bool IsObjectAFormula(const VJSONObject* inObject)
{
    if (inObject == nullptr)
        return false;
    const VJSONClassStore* store = GetProcessClassStore();
    const VJSONObject* functionClass = store != nullptr ? store->GetFunctionClassObject() : nullptr;
    return functionClass != nullptr && inObject->IsInstanceOf(functionClass);
}

bool IsObjectAFormula(const VJSONValue& inValue) { return IsObjectAFormula(inValue.GetObject()); }

}  // namespace qelt
