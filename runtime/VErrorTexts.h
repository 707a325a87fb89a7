// The system's texts for native error codes and the fixed table that turns
// native codes into toolbox codes.
//
// 'POSX' codes carry the errno values of this system and read their text
// from the C library. The 'CARB', 'MACH' and 'COCO' families have no system
// behind them here; their texts come from small built-in tables.
#pragma once

#include <string>

#include "kernel/VKernelTypes.h"

namespace qelt {

// The system's text for a native error code (UTF-8) of one of the four native
// signatures; false, with the text empty, when there is none (another
// signature, an unknown number, or an empty text).
bool GetNativeErrorText(VError inNativeError, std::string& outText);

// The toolbox code that the fixed native table gives for a native code
// ('CARB' or 'POSX'), searched in table order; false when the code is not in
// the table.
bool FindNativeErrorInTable(VError inNativeError, VError& outToolboxError);

// The two halves of an OSStatus text: its comment and its symbolic name;
// null when the built-in table does not know the status.
const char* GetCarbonStatusComment(int inStatus);
const char* GetCarbonStatusName(int inStatus);

// The text of a Mach kernel return code; null when unknown.
const char* GetMachErrorText(int inCode);

// The description of a code of the Cocoa error domain; never empty.
std::string GetCocoaErrorText(int inCode);

// The C library's text for an errno value; false when the value is not an
// errno value of this system.
bool GetPosixErrorText(int inErrno, std::string& outText);

}  // namespace qelt
