// What the runtime reads from the one process object: its logger, its
// international manager, the source named by log records and the files
// beside the program. process/VProcessServices.cpp defines these through
// VProcess::sInstance; each answers null (or false) without a process object.
#pragma once

namespace qelt {

class ILogger;
class VFile;
class VIntlMgr;
class VProcess;
class VString;

// The process's logger, or null.
ILogger* GetProcessLogger();

// The process's international text manager, or null.
VIntlMgr* GetProcessDefaultIntlMgr();

// The process's log source identifier into outSource; false (outSource
// untouched) without a process object.
bool GetProcessLogSourceIdentifier(VString& outSource);

// VProcess::RetainFile of the process object, or null.
VFile* RetainProcessFile(unsigned int inKind, const VString& inName);

// The start-up flags of the given process object (VProcess::GetInitFlags).
unsigned int GetProcessInitFlags(const VProcess& inProcess);

}  // namespace qelt
