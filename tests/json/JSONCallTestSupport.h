// Helper the JSON class tests share: calling a member of an object the way
// script code would, with the result and the last error raised.
#pragma once

#include <gtest/gtest.h>

#include <vector>

#include "json/VJSONObject.h"
#include "json/VJSONValue.h"
#include "kernel/VString.h"
#include "runtime/VErrorContext.h"

namespace qelt::test {

// Calls the named member of the object with the parameters; the result and
// the last error raised come back.
inline EJSONStatus CallMember(VJSONObject* inObject, const char* inName, std::vector<VJSONValue> inParameters,
                              VJSONValue& outResult, VError& outError)
{
    StErrorContextInstaller errors(false);
    VJSONValue function = inObject->GetProperty(VString(inName));
    EXPECT_TRUE(function.IsObject()) << inName;
    EJSONStatus status = eJSONStatus_NotHandled;
    if (function.GetObject() != nullptr)
        status = function.GetObject()->CallAsFunction(inObject, nullptr, &inParameters, outResult);
    outError = errors.GetLastError();
    return status;
}

}  // namespace qelt::test
