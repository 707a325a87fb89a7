#include "runtime/ErrorBagKeys.h"

namespace qelt::ErrorBagKeys {

const StBagKeyNoDefault<long long, VLong8> error_code("error_code");
const StBagKeyNoDefault<int, VLong> task_id("task_id");
const StBagKeyNoDefault<VString, VString> task_name("task_name");

const StPackedDictionaryKey parameters("parameters");
const StPackedDictionaryKey error("error");
const StPackedDictionaryKey error_stack("error_stack");

}  // namespace qelt::ErrorBagKeys
