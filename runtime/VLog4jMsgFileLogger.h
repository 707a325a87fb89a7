// Writes the records of the process logger as one log4j-style line each
// into a split log file named after a base name in a folder:
// "<number> <local time> [<logger name>] <LEVEL> - <message>\n".
// It registers its embedded listener with the process logger when it starts
// and unregisters it when it stops. Registration and unregistration happen
// outside the file logger's own lock, since the process logger calls Put
// (which takes that lock) under its listener lock.
#pragma once

#include <atomic>
#include <cstdint>
#include <vector>

#include "files/VFilePath.h"
#include "kernel/VObject.h"
#include "kernel/VString.h"
#include "runtime/ILogger.h"
#include "runtime/VCriticalSection.h"
#include "values/VTime.h"

namespace qelt {

class VFolder;
class VSplitableLogFile;

class VLog4jMsgFileLogger : public VObject {
public:
    // The log's parts lie in the folder and are named after the base name.
    VLog4jMsgFileLogger(const VFolder& inFolder, const VString& inName);
    VLog4jMsgFileLogger(const VLog4jMsgFileLogger&) = delete;
    VLog4jMsgFileLogger& operator=(const VLog4jMsgFileLogger&) = delete;
    ~VLog4jMsgFileLogger() override;

    // Starts on the last part of the unbroken run of existing parts from
    // part 1, or creates part 1. IsStarted tells the outcome.
    virtual void Start();
    void Start(int inPartNumber);
    virtual void Stop();
    virtual bool IsStarted() const { return fStarted.load(std::memory_order_acquire); }
    bool _IsStarted() const;

    void Pause() { fPaused.store(true); }
    void Resume() { fPaused.store(false); }
    bool IsPaused() const { return fPaused.load(); }

    void Flush();
    bool ShouldLog(EMessageLevel inLevel) const;

    static const char* GetMessageLevelName(EMessageLevel inLevel);
    // The logger name, level and message text of a record's line.
    static void GetLogInfosFromBag(const VValueBag* inRecord, VString& outLoggerName, EMessageLevel& outLevel,
                                   VString& outMessage);
    static void BuildLogFileName(const VString& inName, int inPartNumber, VString& outFileName);

    void GetLogFolderPath(VFilePath& outPath) const { outPath.FromFilePath(fFolderPath); }
    void GetLogName(VString& outName) const { outName.FromString(fLogName); }

    // The number of parts kept; nothing and 0 while stopped.
    void SetLogMaxNumberToKeep(int inCount);
    int GetLogMaxNumberToKeep() const;

    // The listener registered with the process logger; its one reference
    // is never given up, so the logger's retain and release never destroy it.
    class VLog4jLogListener : public VObject, public ILogListener {
    public:
        explicit VLog4jLogListener(VLog4jMsgFileLogger* inOwner) : fOwner(inOwner) {}
        void Put(const std::vector<const VValueBag*>& inRecords) override;
        void Log(const VString& inLoggerName, EMessageLevel inLevel, const VString& inMessage);
        void Log(const char* inLoggerName, EMessageLevel inLevel, const char* inMessage);

    private:
        VLog4jMsgFileLogger* fOwner;
    };

    VLog4jLogListener* GetListener() { return &fListener; }

private:
    friend class VLog4jLogListener;

    bool _CanStart() const;
    void _WriteLine(const char* inLoggerName, EMessageLevel inLevel, const char* inMessage);

    mutable VCriticalSection fLock;  // guards the split file and the start time
    VTime fStartTime;
    VFilePath fFolderPath;
    VString fLogName;
    VSplitableLogFile* fLogFile = nullptr;
    std::atomic<bool> fStarted{false};
    std::atomic<bool> fPaused{false};
    uint32_t fLevelMask = kDefaultLogLevelMask;
    VLog4jLogListener fListener{this};
};

}  // namespace qelt
