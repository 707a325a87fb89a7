#include "XMLTestSupport.h"

#include <algorithm>

namespace qelt::test {

std::string Utf8(const VString& inText)
{
    std::string out;
    const UniChar* p = inText.GetCPointer();
    for (int i = 0; i < inText.GetLength(); ++i) {
        const unsigned c = p[i];
        if (c < 0x80) {
            out += static_cast<char>(c);
        } else if (c < 0x800) {
            out += static_cast<char>(0xC0 | (c >> 6));
            out += static_cast<char>(0x80 | (c & 0x3F));
        } else {
            out += static_cast<char>(0xE0 | (c >> 12));
            out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (c & 0x3F));
        }
    }
    return out;
}

std::string Attribute(const VValueBag& inBag, const char* inName)
{
    VString value;
    if (!inBag.GetAttribute(StPackedDictionaryKey(inName), value))
        return "<absent>";
    return Utf8(value);
}

IXMLHandler* RecordingHandler::StartElement(const VString& inName)
{
    fLog->push_back("start:" + Utf8(inName));
    if (std::find(fSkip.begin(), fSkip.end(), Utf8(inName)) != fSkip.end())
        return nullptr;
    RecordingHandler* child = new RecordingHandler(fLog, fSkip);
    child->fSplitStyleSheets = fSplitStyleSheets;
    return child;
}

void RecordingHandler::EndElement(const VString& inName)
{
    fLog->push_back("end:" + Utf8(inName));
}

void RecordingHandler::SetAttribute(const VString& inName, const VString& inValue)
{
    fLog->push_back("attr:" + Utf8(inName) + "=" + Utf8(inValue));
}

void RecordingHandler::SetText(const VString& inText)
{
    // Runs that the library cut into pieces are joined again.
    if (!fLog->empty() && fLog->back().rfind("text:", 0) == 0)
        fLog->back() += Utf8(inText);
    else
        fLog->push_back("text:" + Utf8(inText));
}

void RecordingHandler::processingInstruction(const VString& inTarget, const VString& inData)
{
    if (fSplitStyleSheets)
        IXMLHandler::processingInstruction(inTarget, inData);
    else
        fLog->push_back("pi:" + Utf8(inTarget) + "|" + Utf8(inData));
}

void RecordingHandler::StartStyleSheet()
{
    fLog->push_back("ss-start");
}

void RecordingHandler::SetStyleSheetAttribute(const VString& inName, const VString& inValue)
{
    fLog->push_back("ss:" + Utf8(inName) + "=" + Utf8(inValue));
}

void RecordingHandler::EndStyleSheet()
{
    fLog->push_back("ss-end");
}

}  // namespace qelt::test
