// The function context of calls made by the JSON model itself. A context
// over an outer context keeps its own this-object and this-array but takes
// parameters, result and scope from the outer one.
#pragma once

#include <vector>

#include "json/IJSONFunctionContext.h"
#include "kernel/VObject.h"

namespace qelt {

class VJSONFunctionContext : public VObject, public IJSONFunctionContext {
public:
    // A context of its own; the parameter vector belongs to the caller.
    VJSONFunctionContext(VJSONObject* inThisObject, VJSONArray* inThisArray, std::vector<VJSONValue>* inParameters,
                         CDBVqBaseContext* inBaseContext, VDBLanguageContext* inLanguageContext);
    // A context over an outer context (which must not be null).
    VJSONFunctionContext(VJSONObject* inThisObject, VJSONArray* inThisArray, IJSONFunctionContext* inOuter);
    ~VJSONFunctionContext() override;

    VJSONFunctionContext(const VJSONFunctionContext&) = delete;
    VJSONFunctionContext& operator=(const VJSONFunctionContext&) = delete;

    VJSONObject* GetThisObject() const override { return fThisObject; }
    VJSONArray* GetThisArray() const override { return fThisArray; }
    void SetResult(const VJSONValue& inValue, unsigned char inLegacyKind) override;
    void GetResult(VJSONValue& outValue) const override;
    unsigned char GetResultLegacyValueKind() const override { return fLegacyKind; }
    bool GetResultIsExpected() const override { return fResultExpected; }
    EJSONStatus GetParametersAsJSONValues(std::vector<VJSONValue>** outValues) const override;
    EJSONStatus GetParameterList(void** outList, int* outCount, void** outExtra, bool* outFlag) override;
    CDBVqBaseContext* GetBaseContext() const override { return fBaseContext; }
    VDBLanguageContext* GetLanguageContext() const override { return fLanguageContext; }
    int GetParamCount() const override;
    VJSONValue GetParam(int inIndex) const override;
    VJSONObject* GetScopeThisObject() const override;
    VJSONObject* GetScopeFunctionObject() const override;

    void SetResultIsExpected(bool inExpected) { fResultExpected = inExpected; }

private:
    VJSONObject* fThisObject;
    VJSONArray* fThisArray;
    std::vector<VJSONValue>* fParameters = nullptr;
    VJSONValue fResult;
    unsigned char fLegacyKind = 5;
    bool fResultExpected = true;
    CDBVqBaseContext* fBaseContext = nullptr;
    VDBLanguageContext* fLanguageContext = nullptr;
    IJSONFunctionContext* fOuter = nullptr;
};

}  // namespace qelt
