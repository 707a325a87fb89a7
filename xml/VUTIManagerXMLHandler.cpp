#include "xml/VUTIManagerXMLHandler.h"

#include "xml/VUTI.h"
#include "xml/VUTIManager.h"

namespace qelt {

namespace {

bool Is(const VString& inText, const char* inName)
{
    return inText.EqualToString(VString(inName), false);
}

void Append(VString& ioText, const VString& inPiece)
{
    if (!inPiece.IsNull() && !inPiece.IsEmpty())
        ioText.AppendUniChars(inPiece.GetCPointer(), inPiece.GetLength());
}

bool IsDeclarationsKey(const VString& inKey)
{
    return Is(inKey, "UTExportedTypeDeclarations") || Is(inKey, "UTImportedTypeDeclarations");
}

// Adds the non-empty tag to the type under its tag class.
void AddTag(VUTI* inUTI, const VString& inExtension, const VString& inOSType, const VString& inMIMEType)
{
    if (!inExtension.IsEmpty())
        inUTI->AddExtension(inExtension);
    else if (!inOSType.IsEmpty())
        inUTI->AddOSType(inOSType);
    else if (!inMIMEType.IsEmpty())
        inUTI->AddMIMEType(inMIMEType);
}

}  // namespace

// ---- The file --------------------------------------------------------------

IXMLHandler* VUTIManagerXMLHandler::StartElement(const VString& inElementName)
{
    if (IsDeclarationsKey(fLastKey) && Is(inElementName, "array"))
        return new VUTIManagerArrayHandler(fManager);
    if (Is(inElementName, "key"))
        fInKey = true;
    fElementName = inElementName;
    fLastKey.Clear();
    Retain();
    return this;
}

void VUTIManagerXMLHandler::EndElement(const VString&)
{
    fInKey = false;
}

void VUTIManagerXMLHandler::SetAttribute(const VString&, const VString&)
{
}

void VUTIManagerXMLHandler::SetText(const VString& inText)
{
    if (fInKey && Is(fElementName, "key"))
        Append(fLastKey, inText);
}

// ---- A declarations array ----------------------------------------------------

IXMLHandler* VUTIManagerArrayHandler::StartElement(const VString& inElementName)
{
    if (Is(inElementName, "dict"))
        return new VUTIManagerUTIHandler(fManager);
    return nullptr;
}

void VUTIManagerArrayHandler::EndElement(const VString&)
{
}

void VUTIManagerArrayHandler::SetText(const VString&)
{
}

// ---- One declaration ---------------------------------------------------------

VUTIManagerUTIHandler::VUTIManagerUTIHandler(VUTIManager* inManager) : fManager(inManager), fUTI(new VUTI)
{
}

VUTIManagerUTIHandler::~VUTIManagerUTIHandler()
{
    ReleaseRefCountable(fUTI);
}

IXMLHandler* VUTIManagerUTIHandler::StartElement(const VString& inElementName)
{
    fElementName = inElementName;
    fElements.push_back(inElementName);
    IXMLHandler* answer = nullptr;
    if (!fLastKey.IsEmpty()) {
        if (Is(inElementName, "string") && (Is(fLastKey, "UTTypeIdentifier") || Is(fLastKey, "UTTypeDescription"))) {
            fPendingKey = fLastKey;
        } else if (Is(inElementName, "array") && Is(fLastKey, "UTTypeConformsTo")) {
            answer = new VUTIManagerUTIKeyArrayStringHandler(fManager, fUTI, VString("UTTypeConformsTo"));
        } else if (Is(inElementName, "dict") && Is(fLastKey, "UTTypeTagSpecification")) {
            answer = new VUTIManagerUTIKeyUTISpecificationHandler(fManager, fUTI);
        } else {
            fPendingKey.Clear();
        }
    } else {
        fPendingKey.Clear();
    }
    if (answer != nullptr) {
        // The element's end goes to the new handler.
        fElements.pop_back();
        fLastKey.Clear();
        return answer;
    }
    if (Is(inElementName, "key") || Is(inElementName, "string"))
        fCollect = true;
    fLastKey.Clear();
    Retain();
    return this;
}

void VUTIManagerUTIHandler::SetText(const VString& inText)
{
    if (!fCollect)
        return;
    if (Is(fElementName, "key"))
        Append(fLastKey, inText);
    else if (Is(fElementName, "string") && Is(fPendingKey, "UTTypeIdentifier"))
        Append(fUTI->GetIdentifierForAppending(), inText);
    else if (Is(fElementName, "string") && Is(fPendingKey, "UTTypeDescription"))
        Append(fUTI->GetDescriptionForAppending(), inText);
}

void VUTIManagerUTIHandler::EndElement(const VString&)
{
    if (fElements.empty())
        fManager->AddNewUTI(fUTI);
    fCollect = false;
    if (!fElements.empty())
        fElements.pop_back();
}

void VUTIManagerUTIHandler::SetAttribute(const VString&, const VString&)
{
}

// ---- The tag specification -----------------------------------------------------

IXMLHandler* VUTIManagerUTIKeyUTISpecificationHandler::StartElement(const VString& inElementName)
{
    fElementName = inElementName;
    if (Is(inElementName, "key") || Is(inElementName, "string"))
        fCollect = true;
    IXMLHandler* answer = nullptr;
    if (Is(inElementName, "string") && !fLastKey.IsEmpty()) {
        if (Is(fLastKey, kUTTagClassFilenameExtension) || Is(fLastKey, kUTTagClassOSType) ||
            Is(fLastKey, kUTTagClassMIMEType))
            fPendingTagClass = fLastKey;
    } else if (Is(inElementName, "array") && !fLastKey.IsEmpty()) {
        answer = new VUTIManagerUTIKeyArrayStringHandler(fManager, fUTI, fLastKey);
    }
    fLastKey.Clear();
    if (answer != nullptr)
        return answer;
    Retain();
    return this;
}

void VUTIManagerUTIKeyUTISpecificationHandler::SetText(const VString& inText)
{
    if (!fCollect)
        return;
    if (Is(fElementName, "key")) {
        Append(fLastKey, inText);
    } else if (Is(fElementName, "string")) {
        if (Is(fPendingTagClass, kUTTagClassFilenameExtension))
            Append(fExtension, inText);
        else if (Is(fPendingTagClass, kUTTagClassOSType))
            Append(fOSType, inText);
        else if (Is(fPendingTagClass, kUTTagClassMIMEType))
            Append(fMIMEType, inText);
    }
}

void VUTIManagerUTIKeyUTISpecificationHandler::EndElement(const VString&)
{
    AddTag(fUTI, fExtension, fOSType, fMIMEType);
    fCollect = false;
    fExtension.Clear();
    fOSType.Clear();
    fMIMEType.Clear();
}

void VUTIManagerUTIKeyUTISpecificationHandler::SetAttribute(const VString&, const VString&)
{
}

// ---- An array of strings under a key ----------------------------------------------

IXMLHandler* VUTIManagerUTIKeyArrayStringHandler::StartElement(const VString& inElementName)
{
    if (Is(inElementName, "string"))
        fCollect = true;
    fElementName = inElementName;
    Retain();
    return this;
}

void VUTIManagerUTIKeyArrayStringHandler::SetText(const VString& inText)
{
    if (!fCollect || !Is(fElementName, "string"))
        return;
    if (Is(fKey, "UTTypeConformsTo"))
        Append(fConformance, inText);
    else if (Is(fKey, kUTTagClassFilenameExtension))
        Append(fExtension, inText);
    else if (Is(fKey, kUTTagClassOSType))
        Append(fOSType, inText);
    else if (Is(fKey, kUTTagClassMIMEType))
        Append(fMIMEType, inText);
}

void VUTIManagerUTIKeyArrayStringHandler::EndElement(const VString&)
{
    if (Is(fElementName, "string")) {
        if (Is(fKey, "UTTypeConformsTo") && !fConformance.IsEmpty()) {
            VRefPtr<VUTI> parent = AdoptRef(new VUTI);
            parent->SetTemporary(true);
            parent->SetIdentifier(fConformance);
            fUTI->AddParentUTI(parent.Get());
        } else {
            AddTag(fUTI, fExtension, fOSType, fMIMEType);
        }
    }
    fConformance.Clear();
    fExtension.Clear();
    fOSType.Clear();
    fMIMEType.Clear();
    fCollect = false;
}

void VUTIManagerUTIKeyArrayStringHandler::SetAttribute(const VString&, const VString&)
{
}

}  // namespace qelt
