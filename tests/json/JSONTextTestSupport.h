// Helpers the JSON text tests share: parsing a literal and writing a value
// (the ASCII view of a text, ToStd, is in TestSupport.h).
#pragma once

#include <gtest/gtest.h>

#include "TestSupport.h"

#include <cstdio>
#include <string>

#include "json/VJSONImporter.h"
#include "json/VJSONValue.h"
#include "kernel/VString.h"

namespace qelt::test {

// The value of a JSON text that must read without error (options 0).
inline VJSONValue Parse(const char* inText)
{
    VJSONValue value(JSON_undefined);
    EXPECT_EQ(VJSONImporter::ParseString(VString(inText), value, 0), VE_OK) << inText;
    return value;
}

// The value's JSON text ("undefined" for an undefined value).
inline std::string Write(const VJSONValue& inValue, unsigned int inFlags = 0x1)
{
    if (inValue.IsUndefined())
        return "undefined";
    VString text;
    EXPECT_EQ(inValue.Stringify(text, inFlags), VE_OK);
    return ToStd(text);
}

}  // namespace qelt::test
