// The debug manager: the process-wide sink of failed assertions, debug
// messages and errors that reach a task's error stack without being
// silenced. For each event it can append an entry to the asserts file, log
// it through the process logger, echo it on standard error, ask an installed
// handler what to do, remember what was chosen to be ignored, and break into
// the debugger. Every error it sees goes to the process logger.
//
// The switches are atomic; the ignore lists, the handler and the asserts
// file are guarded by one lock. Handlers are called outside it.
#pragma once

#include <atomic>
#include <cstdarg>
#include <cstdio>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "kernel/IRefCountable.h"
#include "kernel/VKernelTypes.h"
#include "kernel/VObject.h"
#include "runtime/VDebugContext.h"

namespace qelt {

class VErrorBase;
class VString;

// What a debug message handler answers; anything outside 1 to 4 goes on.
enum EDebugAnswer : int {
    eDebugGoOn = 0,
    eDebugBreak = 1,       // break into the debugger (ends the process without one)
    eDebugAbort = 2,       // end the process
    eDebugIgnoreThis = 3,  // ignore this assert, or this error code, from now on
    eDebugIgnoreAll = 4    // ignore all asserts, or all errors, from now on
};

enum VDebuggerType : int { eDebuggerNone = 0, eDebuggerSystem = 2 };

// Decides what happens on a failed assertion or a thrown error.
class IDebugMessageHandler : public IRefCountable {
public:
    virtual int AssertFailed(VDebugContext& ioContext, const char* inCondition, const char* inFileName,
                             int inLineNumber) = 0;
    virtual int ErrorThrown(VDebugContext& ioContext, VErrorBase* inError) = 0;
};

class VDebugMgr : public VObject {
public:
    // Entries open a new asserts file past this size (10 MiB and one byte).
    static constexpr long kAssertFileRotationSize = 10485761;

    VDebugMgr();
    VDebugMgr(const VDebugMgr&) = delete;
    VDebugMgr& operator=(const VDebugMgr&) = delete;
    ~VDebugMgr() override;

    static VDebugMgr* Get();

    // Events are processed between Init and DeInit only. DeInit also drops
    // the handler, the asserts-file switch and the cached file path.
    bool Init();
    void DeInit();

    // Whether the caller should break; never breaks by itself.
    bool AssertFailed(const char* inCondition, const char* inFileName, int inLineNumber);
    void ErrorThrown(VErrorBase* inError);
    void DebugMsg(const char* inFormat, va_list inArgs);
    void DebugMsg(const VString& inMessage);

    // One entry in the asserts file (date and stack heads when asked);
    // nothing when the file cannot be opened.
    void WriteToAssertFile(const VString& inText, bool inWithDate, bool inWithStack);

    void SetDebugMessageHandler(IDebugMessageHandler* inHandler);

    // Each setter answers the previous value.
    bool SetBreakOnAssert(bool inSet) { return fBreakOnAssert.exchange(inSet); }
    bool SetBreakOnDebugMsg(bool inSet) { return fBreakOnDebugMsg.exchange(inSet); }
    bool SetMessagesEnabled(bool inSet) { return fMessagesEnabled.exchange(inSet); }
    bool SetLogInDebugger(bool inSet) { return fLogInDebugger.exchange(inSet); }
    // Turns the entries of the asserts file on or off.
    bool SetUseAssertFile(bool inSet) { return fUseAssertFile.exchange(inSet); }
    bool GetBreakOnAssert() const { return fBreakOnAssert.load(); }
    bool GetBreakOnDebugMsg() const { return fBreakOnDebugMsg.load(); }
    bool GetMessagesEnabled() const { return fMessagesEnabled.load(); }
    bool GetLogInDebugger() const { return fLogInDebugger.load(); }
    bool GetUseAssertFile() const { return fUseAssertFile.load(); }

    // The current task's low-level mode; nothing without a current task.
    void StartLowLevelMode();
    void StopLowLevelMode();

    // Breaks into the debugger unless the current task forbids breaks;
    // nothing without a current task.
    void Break();
    // Ends the process with status 1 (streams flushed, no static destructor
    // run while other tasks may still be running).
    [[noreturn]] void Abort();

    static void fprintf_console(const char* inFormat, ...) __attribute__((format(printf, 1, 2)));
    static void vfprintf_console(const char* inFormat, va_list inArgs);

    bool _GetDebuggerType(VDebuggerType* outType);

    // The asserts file's path: the bundle's path (outside a bundle the
    // executable's) with the extension of its last element removed, then
    // "_asserts.txt". Computed on first use and cached.
    std::string _GetAssertFilePath();
    static std::string BuildAssertFilePath(const std::string& inBundleOrExecutablePath);
    // Points the asserts file elsewhere (tests); empty computes it again.
    void _SetAssertFilePath(const std::string& inPath);

    // Opens the asserts file for one entry, writing its heads; null when it
    // cannot. The caller writes the text and closes the file. Called under
    // the lock.
    FILE* _OpenAssertFile(bool inWithDate, bool inWithStack);

    // What the handler's answer 1 leads to.
    bool IsDebuggerAvailable() const { return fDebuggerAvailable; }

private:
    // The current task's context when the common gate lets a report through
    // (its reporting flag is then set), else null.
    VDebugContext* _BeginReport();
    IDebugMessageHandler* _RetainHandler();
    // The cached asserts-file path, computed when empty; under the lock.
    const std::string& _EnsureAssertFilePath();
    void _WriteToConsoleUTF8(const VString& inText);

    const bool fDebuggerAvailable = true;
    std::atomic<bool> fMessagesEnabled{false};
    std::atomic<bool> fBreakOnAssert{false};
    std::atomic<bool> fBreakOnDebugMsg{false};
    std::atomic<bool> fBreakOnError{false};
    std::atomic<bool> fLogInDebugger{false};
    std::atomic<bool> fUseAssertFile{false};
    std::atomic<bool> fIgnoreAllAsserts{false};
    std::atomic<bool> fIgnoreAllErrors{false};

    std::mutex fLock;  // guards what follows
    IDebugMessageHandler* fHandler = nullptr;
    std::vector<std::string> fIgnoredAsserts;
    std::set<VError> fIgnoredErrors;
    std::string fAssertFilePath;
    bool fAssertFileOpened = false;
    uint32_t fRotationCounter = 0;
};

}  // namespace qelt
