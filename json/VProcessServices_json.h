// What the JSON floor reads from the one process object: its root class
// store. process/VProcessServices.cpp defines these through
// VProcess::sInstance; each answers null without a process object.
#pragma once

#include "kernel/IRefCountable.h"

namespace qelt {

class VJSONClassStore;
class VJSONObject;
class VString;

// The process's root JSON class store (not retained), or null.
VJSONClassStore* GetProcessClassStore();

// VProcess::GetClassObject of the process object, or null.
VRefPtr<VJSONObject> GetProcessClassObject(const VString& inStoreName, const VString& inClassName);

}  // namespace qelt
