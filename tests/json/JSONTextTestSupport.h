// Helpers the JSON text tests share: ASCII views of strings, parsing a
// literal and writing a value.
#pragma once

#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "json/VJSONImporter.h"
#include "json/VJSONValue.h"
#include "kernel/VString.h"

namespace qelt::test {

// The text with units beyond ASCII shown as <U+XXXX>.
inline std::string ToStd(const VString& inText)
{
    std::string out;
    for (int i = 0; i < inText.GetLength(); ++i) {
        UniChar c = inText.GetCPointer()[i];
        if (c < 0x80) {
            out.push_back(static_cast<char>(c));
        } else {
            char buffer[12];
            std::snprintf(buffer, sizeof(buffer), "<U+%04X>", c);
            out += buffer;
        }
    }
    return out;
}

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
