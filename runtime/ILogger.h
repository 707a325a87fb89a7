// The process logger's interfaces: the levels of log records, the listener
// that receives flushed records, and the logger that any task hands its
// records to. The one logger of a process is a VLogger, reached through
// VProcess::GetLogger.
#pragma once

#include <atomic>
#include <cstdint>
#include <vector>

#include "kernel/IRefCountable.h"

namespace qelt {

class VErrorBase;
class VString;
class VValueBag;

// The level of a record, which is also the bit index of the level in a level
// mask (info is 0x10).
enum EMessageLevel : int {
    EML_Dump = 0,
    EML_Trace = 1,
    EML_Assert = 2,
    EML_Debug = 3,
    EML_Info = 4,
    EML_Warning = 5,
    EML_Error = 6,
    EML_Fatal = 7
};

// Info, warning, error and fatal.
constexpr uint32_t kDefaultLogLevelMask = 0xF0;

// Receives lists of flushed records, oldest first. The list and its records
// stay the caller's: a listener that keeps a record retains it.
class ILogListener : public IRefCountable {
public:
    virtual void Put(const std::vector<const VValueBag*>& inRecords) = 0;
};

class ILogger : public IRefCountable {
public:
    virtual void Start() = 0;
    virtual void Stop() = 0;
    virtual bool IsStarted() const = 0;
    virtual bool ShouldLog(EMessageLevel inLevel) const = 0;
    virtual void LogBag(const VValueBag* inRecord) = 0;
    virtual void LogMessage(EMessageLevel inLevel, const VString& inMessage, const VString& inSource) = 0;
    virtual void Flush() = 0;
    virtual bool WithTrace(bool inOn) = 0;
    virtual bool WithDump(bool inOn) = 0;
    virtual bool WithDebug(bool inOn) = 0;
    virtual bool WithWarning(bool inOn) = 0;
    virtual bool WithError(bool inOn) = 0;
    virtual bool WithFatal(bool inOn) = 0;
    virtual bool WithAssert(bool inOn) = 0;
    virtual bool WithInfo(bool inOn) = 0;
    virtual bool AddLogListener(ILogListener* inListener) = 0;
    virtual bool RemoveLogListener(ILogListener* inListener) = 0;

    // When the logger takes errors: a record of the error (its bag form,
    // description, signature, source and job) logged at the error level.
    void LogErrorIfNecessary(VErrorBase* inError);

    // When the logger takes asserts: a record of the failed assertion with
    // the file's last path element, the line and the caller's stack.
    void LogAssertIfNecessary(const char* inMessage, const char* inFileName, int inLineNumber);

    // The next number of the process-wide line counter; the first call
    // answers 1.
    static uint64_t GetSequenceNumber();

    static std::atomic<uint64_t> sSequenceNumber;
};

// The source of a record that names none: the current task's "source"
// property, else the process's log source identifier.
void GetLogSourceOfCurrentTask(VString& outSource);

// A multi-line stack crawl as one line: each frame without its parameter
// list, namespace prefix, thunk prefix and trailing " const", frames joined
// by " <- " in the order of the text.
void CompactStackCrawl(const VString& inCrawl, VString& outLine);

}  // namespace qelt
