// Error objects: a 64-bit code, the task that raised it and a bag of named
// parameters; the operations that raise errors on the current task's error
// stack; the texts an error gives and the mapping of native error codes.
#pragma once

#include <map>
#include <mutex>

#include "kernel/IRefCountable.h"
#include "kernel/VKernelTypes.h"
#include "kernel/VObject.h"
#include "kernel/VString.h"
#include "kernel/VThrowError.h"
#include "runtime/mac/XMacStackCrawl.h"

namespace qelt {

class ILocalizer;
class VValueBag;
class VJSONObject;

class VErrorBase : public VObject, public IRefCountable {
public:
    // Code 0, task id 0, empty task name, empty parameters.
    VErrorBase();

    // The code, with the id and name of the calling thread's task when the
    // task manager runs and the thread has one (else 0 and an empty name).
    explicit VErrorBase(VError inError);

    // Code, task id and name copied; the copy gets its own clone of the
    // parameters.
    VErrorBase(const VErrorBase& inOther);
    VErrorBase& operator=(const VErrorBase&) = delete;

    ~VErrorBase() override;

    CharSet DebugDump(char* ioBuffer, int& ioSize) const override;

    // "Error code: N (sign)": the number read as signed, the four signature
    // characters in reading order.
    virtual void GetErrorString(VString& outText) const;

    // The text shown to people: the registered localiser's message, else the
    // system's text for native codes, else the "error_description"
    // parameter, else the code string. Never empty for a non-zero code.
    virtual void GetErrorDescription(VString& outText) const;

    // The "action_description" parameter with its placeholders filled.
    virtual void GetActionDescription(VString& outText) const;

    // "qeltcore" for the toolbox's own errors, else "component: 'sign'".
    virtual void GetLocation(VString& outText) const;

    // The task name; the task id too when outTaskID is given.
    virtual void GetTaskName(VString& outName, int* outTaskID = nullptr) const;

    // Code string, description, location, action description and task, one
    // per line.
    virtual void DumpToString(VString& outText) const;

    VError GetError() const { return fError; }
    int GetTaskID() const { return fTaskID; }

    // The error's parameters; never null.
    VValueBag* GetBag() { return fBag; }
    const VValueBag* GetBag() const { return fBag; }

    // No stack crawl is recorded: the text is left unchanged.
    void GetStackCrawl(VString& ioText) const;

    // Writes "error_code", "task_id", "task_name" and the "parameters"
    // element (the error's own bag) into the bag; 0.
    VError SaveToBag(VValueBag& ioBag) const;

    // Reads the form SaveToBag writes; missing keys leave the fields as
    // they were (a missing name empties the name); always 0.
    VError LoadFromBag(const VValueBag& inBag);

    // A new object (one reference for the caller) with "errCode" (the error
    // number, read as signed), "componentSignature" (the four signature
    // characters) and "message" (the description).
    VJSONObject* CreateJSONObject() const;

    // Start-up and shut-down hooks of the process object.
    static bool Init();
    static void DeInit();

    // Localisers of error messages, by component signature. The registry
    // does not own them. Registering, look-ups and the calls made to a
    // registered localiser all hold LocalizersMutex(), so a localiser that
    // unregisters itself under it is never called afterwards.
    static void RegisterLocalizer(unsigned int inSignature, ILocalizer* inLocalizer);
    static void UnregisterLocalizer(unsigned int inSignature);
    // Removes the localiser from every signature it serves.
    static void UnregisterLocalizer(ILocalizer* inLocalizer);
    static ILocalizer* GetLocalizer(unsigned int inSignature);
    static std::recursive_mutex& LocalizersMutex();

    // Asks the localiser for the code's message and fills its placeholders
    // from this error's parameters. True for code 0 (text untouched) and
    // when the localiser gave a text; otherwise the text is cleared.
    bool CallLocalizer(ILocalizer* inLocalizer, VError inError, VString& outText) const;

    // An OSStatus as an error code: 0 stays 0, known codes become toolbox
    // codes, any other becomes a 'CARB' code.
    static VError MAC_MapCarbonErrorToVError(int inStatus);

    // A native code as the toolbox code that file and folder operations
    // report; inFallback stands for native codes without a toolbox meaning.
    static VError EncodedNativeErrorToVError(VError inNativeError, VError inFallback);

protected:
    // Fills the placeholders of ioText from the parameters; placeholders
    // without a parameter are removed.
    void _FormatWithParameters(VString& ioText) const;

private:
    static std::map<unsigned int, ILocalizer*>& _Localizers();

    VError fError = 0;
    int fTaskID = 0;
    VString fTaskName;
    VValueBag* fBag = nullptr;
    // Room for the raising stack; nothing records it, so it stays empty.
    XMacStackCrawl fStackCrawl;
};

// An error with a message of its own, which is its description and its dump.
class VErrorUserGenerated : public VErrorBase {
public:
    VErrorUserGenerated(VError inError, const VString& inMessage);
    ~VErrorUserGenerated() override;

    void GetErrorDescription(VString& outText) const override;
    void DumpToString(VString& outText) const override;

private:
    VString fMessage;
};

// An error received from a remote service, carrying the service's message.
class VErrorImported : public VErrorBase {
public:
    VErrorImported(VError inError, const VString& inMessage);
    ~VErrorImported() override;

    void GetErrorDescription(VString& outText) const override;
    void DumpToString(VString& outText) const override;
    void GetLocation(VString& outText) const override;

private:
    VString fMessage;
};

// Pushes an error built by the caller (taking over the caller's reference),
// preceded by an error for the native code that caused it unless that code is
// 0 or the current context filters the error. Answers what the push answered.
bool _PushRetainedError(VErrorBase* inError, VError inNativeError);

// Raises a VErrorUserGenerated with the code and message; returns the code.
VError vThrowUserGeneratedError(VError inError, const VString& inMessage);

}  // namespace qelt
