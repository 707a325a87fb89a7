// The names of the bag form of errors: the attributes of one error's bag,
// its "parameters" child, the "error" children of an error context's bag,
// and the element name "error_stack", kept for callers that file a stack of
// errors under it (the toolbox itself fills it nowhere).
#pragma once

#include "kernel/VLong.h"
#include "kernel/VLong8.h"
#include "kernel/VString.h"
#include "values/VValueBag.h"

namespace qelt::ErrorBagKeys {

extern const StBagKeyNoDefault<long long, VLong8> error_code;
extern const StBagKeyNoDefault<int, VLong> task_id;
extern const StBagKeyNoDefault<VString, VString> task_name;

extern const StPackedDictionaryKey parameters;
extern const StPackedDictionaryKey error;
extern const StPackedDictionaryKey error_stack;

}  // namespace qelt::ErrorBagKeys
