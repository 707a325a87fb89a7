// The handlers that read type declarations out of a property list into the
// type registry: the root walks the file, a declarations array hands each
// dictionary to a declaration handler, which reads the identifier, the
// description, the conformance list and the tag specification.
#pragma once

#include <vector>

#include "kernel/VObject.h"
#include "kernel/VString.h"
#include "xml/IXMLHandler.h"

namespace qelt {

class VUTI;
class VUTIManager;

class VUTIManagerXMLHandler : public VObject, public IXMLHandler {
public:
    explicit VUTIManagerXMLHandler(VUTIManager* inManager) : fManager(inManager) {}

    IXMLHandler* StartElement(const VString& inElementName) override;
    void EndElement(const VString& inElementName) override;
    void SetAttribute(const VString& inName, const VString& inValue) override;
    void SetText(const VString& inText) override;

private:
    VUTIManager* fManager;
    VString fElementName;
    VString fLastKey;
    bool fInKey = false;
};

class VUTIManagerArrayHandler : public VObject, public IXMLHandler {
public:
    explicit VUTIManagerArrayHandler(VUTIManager* inManager) : fManager(inManager) {}

    IXMLHandler* StartElement(const VString& inElementName) override;
    void EndElement(const VString& inElementName) override;
    void SetText(const VString& inText) override;

private:
    VUTIManager* fManager;
};

class VUTIManagerUTIHandler : public VObject, public IXMLHandler {
public:
    explicit VUTIManagerUTIHandler(VUTIManager* inManager);
    ~VUTIManagerUTIHandler() override;

    IXMLHandler* StartElement(const VString& inElementName) override;
    void EndElement(const VString& inElementName) override;
    void SetAttribute(const VString& inName, const VString& inValue) override;
    void SetText(const VString& inText) override;

private:
    VUTIManager* fManager;
    VString fElementName;
    VString fLastKey;
    VString fPendingKey;
    VUTI* fUTI;
    bool fCollect = false;
    std::vector<VString> fElements;
};

class VUTIManagerUTIKeyUTISpecificationHandler : public VObject, public IXMLHandler {
public:
    VUTIManagerUTIKeyUTISpecificationHandler(VUTIManager* inManager, VUTI* inUTI)
        : fManager(inManager), fUTI(inUTI)
    {
    }

    IXMLHandler* StartElement(const VString& inElementName) override;
    void EndElement(const VString& inElementName) override;
    void SetAttribute(const VString& inName, const VString& inValue) override;
    void SetText(const VString& inText) override;

private:
    VUTIManager* fManager;
    VUTI* fUTI;
    VString fElementName;
    VString fLastKey;
    VString fPendingTagClass;
    bool fCollect = false;
    VString fExtension;
    VString fOSType;
    VString fMIMEType;
};

class VUTIManagerUTIKeyArrayStringHandler : public VObject, public IXMLHandler {
public:
    VUTIManagerUTIKeyArrayStringHandler(VUTIManager*, VUTI* inUTI, const VString& inKey) : fUTI(inUTI), fKey(inKey)
    {
    }

    IXMLHandler* StartElement(const VString& inElementName) override;
    void EndElement(const VString& inElementName) override;
    void SetAttribute(const VString& inName, const VString& inValue) override;
    void SetText(const VString& inText) override;

private:
    VUTI* fUTI;
    VString fKey;
    VString fElementName;
    bool fCollect = false;
    VString fConformance;
    VString fExtension;
    VString fOSType;
    VString fMIMEType;
};

}  // namespace qelt
