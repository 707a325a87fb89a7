// The process logger. Any task hands it records; it keeps them in a fixed
// ring of 1000 and, from a task of its own named "Logger", hands them every
// 100 ms, oldest first, to its listeners. Logging never waits for output: a
// record costs one retain, one lock and one store.
//
// The first record after a listener was added, and the first after a round
// that found the ring empty, wake the task: the first line of a new log file
// and the first line after a quiet time reach the listeners at once rather
// than up to a period later. While records keep coming, every round finds
// some and nothing is woken: steady logging is batched as before.
//
// Two locks: the ring lock guards the ring, its count and its wrapped flag;
// the listener lock guards the listener list and is held while listeners
// are called, so that they are called on one task at a time. The logger
// never holds both: the ring is emptied before the listeners are called.
#pragma once

#include <atomic>
#include <cstdint>
#include <vector>

#include "kernel/VObject.h"
#include "runtime/ILogger.h"
#include "runtime/VCriticalSection.h"

namespace qelt {

class VTask;

class VLogger : public VObject, public ILogger {
public:
    static constexpr int kRingSize = 1000;
    static constexpr int kFlushPeriodMs = 100;
    static constexpr unsigned long kTaskStackSize = 64000;

    // Not started, default level mask, empty ring, no listener, no task.
    VLogger();
    VLogger(const VLogger&) = delete;
    VLogger& operator=(const VLogger&) = delete;

    void Start() override;
    // Asks the logger task to die and waits at most 3000 ms for it; records
    // still enter the ring afterwards and reach listeners through Flush.
    void Stop() override;
    bool IsStarted() const override;
    bool ShouldLog(EMessageLevel inLevel) const override;
    void LogBag(const VValueBag* inRecord) override;
    void LogMessage(EMessageLevel inLevel, const VString& inMessage, const VString& inSource) override;
    void Flush() override;
    bool WithTrace(bool inOn) override { return WithTag(EML_Trace, inOn); }
    bool WithDump(bool inOn) override { return WithTag(EML_Dump, inOn); }
    bool WithDebug(bool inOn) override { return WithTag(EML_Debug, inOn); }
    bool WithWarning(bool inOn) override { return WithTag(EML_Warning, inOn); }
    bool WithError(bool inOn) override { return WithTag(EML_Error, inOn); }
    bool WithFatal(bool inOn) override { return WithTag(EML_Fatal, inOn); }
    bool WithAssert(bool inOn) override { return WithTag(EML_Assert, inOn); }
    bool WithInfo(bool inOn) override { return WithTag(EML_Info, inOn); }
    // The first listener also creates and runs the logger task.
    bool AddLogListener(ILogListener* inListener) override;
    // Flushes first, so that the listener still receives pending records.
    bool RemoveLogListener(ILogListener* inListener) override;

    // Sets or clears bit (inLevel modulo 32) of the level mask; answers its
    // previous state.
    bool WithTag(unsigned int inLevel, bool inOn);

    // Takes every record out of the ring, oldest first; the references pass
    // to the caller. Takes no lock: only where no other task logs.
    std::vector<const VValueBag*> Read();

    // The ring insertion of LogBag, without level test and without lock.
    void AddLogBag(const VValueBag* inRecord);

    // The body of the logger task.
    void LogReaderTaskProc();

    // The logger task, or null before the first listener (tests).
    VTask* GetLoggerTask() const { return fTask; }

protected:
    // Waits, without time limit, for the logger task to be dead before it
    // releases the listeners, the records and the task.
    ~VLogger() override;

private:
    // Takes the ring's records, oldest first, into outRecords and empties
    // the ring. The caller holds the ring lock (or no other task logs).
    void _TakeRecords(std::vector<const VValueBag*>& outRecords);
    // Hands the ring's records to the listeners (Flush). Called by the
    // logger task, it also notes whether the task goes to sleep with
    // nothing delivered.
    void _Deliver(bool inByLoggerTask);
    // Kills the task and waits for its death, at most inMilliseconds (0 or
    // less: as long as it takes).
    void _KillTaskAndWait(int inMilliseconds);

    const VValueBag* fRing[kRingSize] = {};
    int32_t fRingCount = 0;
    bool fWrapped = false;
    // The next record wakes the logger task: its last round found the ring
    // empty, or a listener was added since. Guarded by the ring lock.
    bool fWakeOnNextRecord = false;
    VCriticalSection fRingLock;
    VCriticalSection fListenerLock;
    std::atomic<uint32_t> fLevelMask{kDefaultLogLevelMask};
    std::atomic<bool> fStarted{false};
    std::vector<ILogListener*> fListeners;
    VTask* fTask = nullptr;
};

}  // namespace qelt
