// What the kernel and the floors above it read from the one process object,
// declared at the floor that reads it; process/VProcessServices.cpp defines
// it through VProcess::sInstance. runtime/VProcessServices_runtime.h and
// json/VProcessServices_json.h declare the services of their own floors.
#pragma once

namespace qelt {

// True while the process object exists (from its construction until its
// shut-down).
bool ProcessObjectExists();

}  // namespace qelt
