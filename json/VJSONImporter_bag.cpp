// The importer's reading of one JSON object straight into a value bag:
// scalar members become attributes, object members child bags marked
// "____objectunic", array members lists of child bags (bare items carried
// by "____FakeArrayElement"), and "__CDATA" the bag's text.
#include "json/VJSONImporter.h"

#include "json/VJSONBinaryImporter.h"
#include "kernel/VBoolean.h"
#include "kernel/VLong8.h"
#include "kernel/VReal.h"
#include "platform/PlatNumbers.h"
#include "values/VTime.h"
#include "values/VValueBag.h"

namespace qelt {

namespace {

const char kExpectObject[] = "{";
const char kExpectFirstKey[] = "\" }";
const char kExpectKey[] = "\"";
const char kExpectColon[] = ":";
const char kExpectValue[] = "\" 0-9 null true false { [";

// The value of a bare word: null, a boolean, an integer for a word without
// '.' (and, for a number, without an exponent), else a real.
void SetBareWord(VValueBag& ioBag, const StPackedDictionaryKey& inName, const VString& inWord)
{
    if (VJSONImporter::_IsWord(inWord, "null")) {
        ioBag.SetAttribute(inName, VString(true));
        return;
    }
    if (VJSONImporter::_IsWord(inWord, "true") || VJSONImporter::_IsWord(inWord, "false")) {
        ioBag.SetAttribute(inName, VBoolean(inWord.GetCPointer()[0] == 't'));
        return;
    }
    const UniChar* p = inWord.GetCPointer();
    const int n = inWord.GetLength();
    const bool exponent = VJSONImporter::_IsNumberWord(p, n) && (inWord.FindUniChar('e') > 0 || inWord.FindUniChar('E') > 0);
    if (inWord.FindUniChar('.') == 0 && !exponent) {
        ioBag.SetAttribute(inName, VLong8(inWord.GetLong8()));
        return;
    }
    double number = 0.0;
    if (n > 0)
        plat::ReadCNumber(p, static_cast<size_t>(n), number, plat::kCNumberMinusSign);
    ioBag.SetAttribute(inName, VReal(number));
}

}  // namespace

VError VJSONImporter::JSONObjectToBag(VValueBag& ioBag)
{
    if (fBagLevel == 0) {
        VError scanError = VE_OK;
        JsonToken token = GetNextJSONToken(&scanError);
        if (scanError != VE_OK)
            return scanError;
        if (token != jsonBeginObject)
            return _ThrowErrorInvalidToken(_TokenToString(token), kExpectObject);
    }
    return _ObjectToBag(ioBag, false);
}

VError VJSONImporter::_ObjectToBag(VValueBag& ioBag, bool)
{
    static const StPackedDictionaryKey sObjectUnic("____objectunic");
    static const StPackedDictionaryKey sFakeArrayElement("____FakeArrayElement");
    static const VString sCData("__CDATA");
    VStr<31> name;
    bool quoted = false;
    VError scanError = VE_OK;
    JsonToken token = GetNextJSONToken(name, &quoted, &scanError);
    if (scanError != VE_OK)
        return scanError;
    bool first = true;
    while (token != jsonEndObject && token != jsonNone) {
        if (token != jsonString)
            return _ThrowErrorInvalidToken(_TokenToString(token), first ? kExpectFirstKey : kExpectKey);
        first = false;
        token = GetNextJSONToken(&scanError);
        if (scanError != VE_OK)
            return scanError;
        if (token != jsonAssigne)
            return _ThrowErrorInvalidToken(_GetStartTokenFirstChar(), kExpectColon);
        const StPackedDictionaryKey key(name);
        bool isString = false;
        token = GetNextJSONToken(fToken, &isString, &scanError);
        if (scanError != VE_OK)
            return scanError;
        if (token == jsonBeginObject) {
            if (fBagLevel >= VValueBag::kMaxDepth)
                return _ThrowErrorTooDeep();
            VRefPtr<VValueBag> child = AdoptRef(new VValueBag());
            child->SetAttribute(sObjectUnic, VBoolean(true));
            ++fBagLevel;
            VError error = _ObjectToBag(*child, true);
            --fBagLevel;
            if (error != VE_OK)
                return error;
            ioBag.AddElement(key, child.Get());
        } else if (token == jsonBeginArray) {
            // Items up to ']' or the end of the text, each followed by an
            // optional ','.
            token = GetNextJSONToken(fToken, &isString, &scanError);
            while (scanError == VE_OK && token != jsonEndArray && token != jsonNone) {
                VRefPtr<VValueBag> child = AdoptRef(new VValueBag());
                if (token == jsonBeginObject) {
                    if (fBagLevel >= VValueBag::kMaxDepth)
                        return _ThrowErrorTooDeep();
                    ++fBagLevel;
                    VError error = _ObjectToBag(*child, true);
                    --fBagLevel;
                    if (error != VE_OK)
                        return error;
                } else if (token == jsonString && isString) {
                    child->SetAttribute(sFakeArrayElement, fToken);
                } else {
                    // A nested array, ':' or ',' has no bag form: an empty word.
                    SetBareWord(*child, sFakeArrayElement, token == jsonString ? fToken : VString());
                }
                ioBag.AddElement(key, child.Get());
                token = GetNextJSONToken(fToken, &isString, &scanError);
                if (scanError == VE_OK && token == jsonSeparator)
                    token = GetNextJSONToken(fToken, &isString, &scanError);
            }
            if (scanError != VE_OK)
                return scanError;
        } else if (token == jsonString) {
            if (name.EqualToStringRaw(sBinaryObjectName)) {
                // A value's binary form: the bag takes the value read.
                VJSONValue value(JSON_undefined);
                VError error = VJSONBinaryImporter::GetValueFromBase64(fToken, value);
                if (error != VE_OK)
                    return error;
                ioBag.FromJSONValue(value);
            } else if (name.EqualToStringRaw(sCData)) {
                ioBag.SetAttribute(VValueBag::CDataAttributeName(), fToken);
            } else if (isString) {
                const bool date = fStrictDates ? fToken.IsNonAmbigousDate() : fToken.IsISODate();
                if (date) {
                    VTime time;
                    if (!time.FromXMLString(fToken))
                        time.SetNull(true);
                    ioBag.SetAttribute(key, time);
                } else {
                    ioBag.SetAttribute(key, fToken);
                }
            } else {
                SetBareWord(ioBag, key, fToken);
            }
        } else {
            return _ThrowErrorInvalidToken(_TokenToString(token), kExpectValue);
        }
        token = GetNextJSONToken(name, &quoted, &scanError);
        if (scanError != VE_OK)
            return scanError;
        if (token == jsonSeparator) {
            token = GetNextJSONToken(name, &quoted, &scanError);
            if (scanError != VE_OK)
                return scanError;
        }
    }
    return VE_OK;
}

}  // namespace qelt
