#include "xml/IXMLHandler.h"

#include <xercesc/util/XMLChar.hpp>

#include "files/VFolder.h"
#include "xml/VXMLParser.h"

namespace qelt {

IXMLHandler::~IXMLHandler()
{
    ReleaseRefCountable(fEntitiesFolder);
}

void IXMLHandler::SetEntitiesLocalFolder(const VString& inPrefix, VFolder* inFolder)
{
    fEntitiesPrefix = inPrefix;
    if (inFolder != fEntitiesFolder) {
        ReleaseRefCountable(fEntitiesFolder);
        fEntitiesFolder = RetainRefCountable(inFolder);
    }
}

IXMLHandler* IXMLHandler::StartElement(const VString&)
{
    return nullptr;
}

void IXMLHandler::EndElement(const VString&)
{
}

void IXMLHandler::SetAttribute(const VString&, const VString&)
{
}

void IXMLHandler::SetText(const VString&)
{
}

VFile* IXMLHandler::ResolveEntity(const VString& inSystemID)
{
    return VXMLParser::ResolveEntityFromFolder(fEntitiesPrefix, fEntitiesFolder, inSystemID);
}

void IXMLHandler::StartStyleSheet()
{
}

void IXMLHandler::SetStyleSheetAttribute(const VString&, const VString&)
{
}

void IXMLHandler::EndStyleSheet()
{
}

namespace {

// A pseudo-attribute value loses its surrounding quotes (double, else single)
// and its leading and trailing blanks.
void CleanStyleSheetValue(VString& ioValue)
{
    const int length = ioValue.GetLength();
    if (length >= 2) {
        const UniChar first = ioValue.GetUniChar(1);
        const UniChar last = ioValue.GetUniChar(length);
        if ((first == '"' && last == '"') || (first == '\'' && last == '\''))
            ioValue.SubString(2, length - 2);
    }
    ioValue.RemoveWhiteSpaces();
}

}  // namespace

void IXMLHandler::processingInstruction(const VString& inTarget, const VString& inData)
{
    if (inTarget.IsEmpty() || inData.IsEmpty() || !inTarget.EqualToString(VString("xml-stylesheet"), true))
        return;
    StartStyleSheet();
    VString token, name;
    bool nameSeen = false;
    const UniChar* p = inData.GetCPointer();
    const int length = inData.GetLength();
    for (int i = 0; i < length; ++i) {
        const UniChar c = p[i];
        if (WCharIsSpace(c)) {
            if (!token.IsEmpty()) {
                CleanStyleSheetValue(token);
                if (nameSeen) {
                    if (!name.IsEmpty())
                        SetStyleSheetAttribute(name, token);
                    nameSeen = false;
                } else {
                    name = token;
                }
                token.Clear();
            }
        } else if (c == '=') {
            if (!token.IsEmpty())
                name = token;
            nameSeen = true;
            token.Clear();
        } else {
            token.AppendUniChar(c);
        }
    }
    if (!token.IsEmpty() && nameSeen) {
        CleanStyleSheetValue(token);
        if (!name.IsEmpty())
            SetStyleSheetAttribute(name, token);
    }
    EndStyleSheet();
}

bool IXMLHandler::WCharIsSpace(UniChar inChar)
{
    return inChar == 32 || inChar == 9 || inChar == 10 || inChar == 12 || inChar == 13;
}

bool IXMLHandler::IsXMLChar(UniChar inChar)
{
    return xercesc::XMLChar1_0::isXMLChar(static_cast<XMLCh>(inChar));
}

IXMLHandler* VNullXMLHandler::StartElement(const VString&)
{
    Retain();
    return this;
}

void VNullXMLHandler::SetAttribute(const VString&, const VString&)
{
}

void VNullXMLHandler::SetText(const VString&)
{
}

}  // namespace qelt
