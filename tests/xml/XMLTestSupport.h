// Helpers shared by the xml tests: readable texts of strings and bags, and a
// handler that records every call it receives.
#pragma once

#include <string>
#include <vector>

#include "kernel/VString.h"
#include "values/VValueBag.h"
#include "xml/IXMLHandler.h"

namespace qelt::test {

// The string as UTF-8.
std::string Utf8(const VString& inText);

// The attribute's text, or "<absent>".
std::string Attribute(const VValueBag& inBag, const char* inName);

// Records "start:x", "attr:n=v", "text:t", "end:x", "pi:t|d", "ss-start",
// "ss:n=v" and "ss-end"; StartElement answers a new recorder sharing the log
// unless the element's name is in the skip list.
class RecordingHandler : public VObject, public IXMLHandler {
public:
    RecordingHandler(std::vector<std::string>* inLog, std::vector<std::string> inSkip = {})
        : fLog(inLog), fSkip(std::move(inSkip))
    {
    }

    IXMLHandler* StartElement(const VString& inName) override;
    void EndElement(const VString& inName) override;
    void SetAttribute(const VString& inName, const VString& inValue) override;
    void SetText(const VString& inText) override;
    void processingInstruction(const VString& inTarget, const VString& inData) override;
    void StartStyleSheet() override;
    void SetStyleSheetAttribute(const VString& inName, const VString& inValue) override;
    void EndStyleSheet() override;

    // Calls the default splitter instead of recording the instruction.
    bool fSplitStyleSheets = false;

private:
    std::vector<std::string>* fLog;
    std::vector<std::string> fSkip;
};

}  // namespace qelt::test
