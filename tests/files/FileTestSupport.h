// Helpers of the file tests: files on disk by POSIX path, paths in the
// toolbox's form, and the codes on the current error context.
#pragma once

#include <string>
#include <vector>

#include "TestSupport.h"
#include "files/VFilePath.h"
#include "kernel/StStringConverter.h"
#include "kernel/VString.h"
#include "runtime/VErrorBase.h"
#include "runtime/VErrorContext.h"
#include "values/VValueBag.h"

namespace qelt::test {

inline VFilePath PosixToPath(const std::string& posix)
{
    return VFilePath(VString(posix.data(), static_cast<unsigned long>(posix.size()), VTC_UTF_8), FPS_POSIX);
}

// The codes on the context, oldest first.
inline std::vector<VError> Codes(const StErrorContextInstaller& errors)
{
    std::vector<VError> out;
    for (const VErrorBase* e : errors.GetContext()->GetErrors())
        out.push_back(e->GetError());
    return out;
}

// A text attribute of the last error's parameters ("" when missing).
inline std::string LastParameter(const StErrorContextInstaller& errors, const char* name)
{
    const VErrorBase* last = errors.GetContext()->GetLast();
    VString value;
    if (last == nullptr || !last->GetBag()->GetAttribute(name, value))
        return "";
    return to_string(value);
}

}  // namespace qelt::test
