// Error contexts: the per-task stack of contexts that collect raised errors,
// and the scoped guard that installs one around a piece of work.
#pragma once

#include <cstdint>
#include <vector>

#include "kernel/IRefCountable.h"
#include "kernel/VKernelTypes.h"
#include "kernel/VObject.h"

namespace qelt {

class VErrorBase;
class VValueBag;
class VJSONValue;

// An ordered list of errors (oldest first) with the codes it filters and a
// few flags.
class VErrorContext : public VObject, public IRefCountable {
public:
    explicit VErrorContext(bool inKeepingErrors = true, bool inSilent = false);

    // Keeps errors, not silent, no filters; clones the source's parameters
    // and takes its errors and its out-of-memory flag.
    VErrorContext(const VErrorContext& inOther);
    VErrorContext& operator=(const VErrorContext&) = delete;

    ~VErrorContext() override;

    // Appends the error with a new reference, after merging the context's
    // parameters into it. False for null or when the list cannot grow.
    bool PushError(VErrorBase* inError);

    // Appends every error of the other context (oldest first) and takes on
    // its out-of-memory flag.
    void PushErrors(const VErrorContext& inOther);

    void AddErrorToFilter(VError inError);
    bool IsErrorFiltered(VError inError) const;

    // The bag merged into every error pushed here, created on demand.
    VValueBag* GetParametersForPushedErrors(bool inCreateIfMissing);

    // Drops every error and clears the out-of-memory flag.
    void Flush();

    VErrorBase* GetFirst() const;
    VErrorBase* GetLast() const;
    VError GetLastError() const;

    // The oldest error with exactly that code, or null.
    VErrorBase* Find(VError inError) const;

    // Whether some error has one of the codes; the list ends at the first 0.
    template <typename... Codes>
    bool FindAny(VError inFirst, Codes... inOthers) const
    {
        const VError codes[] = {inFirst, static_cast<VError>(inOthers)..., VError(0)};
        return _FindAny(codes);
    }

    bool DebugDisplay() const { return !fErrors.empty(); }

    // Hands every error to the process logger when there is one.
    void SendErrorsToLogger() const;

    // One "error" child per error, oldest first; 0.
    VError SaveToBag(VValueBag& ioBag) const;

    // Appends an error for each "error" child; 'qelt' 100 when memory runs
    // out, else 0.
    VError LoadFromBag(const VValueBag& inBag);

    // Undefined when the context holds no error; otherwise a new array of
    // the errors' JSON forms, oldest first.
    void SaveToJSONArray(VJSONValue& outValue) const;

    const std::vector<VErrorBase*>& GetErrors() const { return fErrors; }
    size_t GetErrorsCount() const { return fErrors.size(); }
    bool IsEmpty() const { return fErrors.empty(); }

    bool FailedForMemory() const { return fFailedForMemory; }
    void SetFailedForMemory(bool inFailed) { fFailedForMemory = inFailed; }

    bool IsSilent() const { return fSilent; }
    void SetSilent(bool inSilent) { fSilent = inSilent; }

    bool IsKeepingErrors() const { return fKeepingErrors; }
    void SetKeepingErrors(bool inKeeping) { fKeepingErrors = inKeeping; }

    bool HasFilters() const { return !fFilteredErrors.empty(); }
    bool HasParametersForPushedErrors() const { return fParameters != nullptr; }

    // The number of holders of this context.
    int32_t GetRefCount() const;

private:
    bool _FindAny(const VError* inCodes) const;
    bool _Append(VErrorBase* inError);
    void _MergeParametersInto(VErrorBase* inError) const;

    std::vector<VErrorBase*> fErrors;
    std::vector<VError> fFilteredErrors;
    VValueBag* fParameters = nullptr;
    bool fFailedForMemory = false;
    bool fSilent = false;
    bool fKeepingErrors = true;
};

// The stack of error contexts of one task, bottom first.
class VErrorTaskContext : public VObject, public IRefCountable {
public:
    VErrorTaskContext();
    VErrorTaskContext(const VErrorTaskContext&) = delete;
    VErrorTaskContext& operator=(const VErrorTaskContext&) = delete;
    ~VErrorTaskContext() override;

    // Pushes the error into the top context (creating a base context for an
    // empty stack). outSilent, when given, tells whether a silent or a
    // filtering context swallowed it.
    bool PushError(VErrorBase* inError, bool* outSilent = nullptr);

    void PushErrorsFromContext(const VErrorContext* inContext);
    void PushErrorsFromBag(const VValueBag& inBag);

    // Pushes a context with the flags and returns it with a reference for the
    // caller; null when memory runs out.
    VErrorContext* PushNewContext(bool inKeepingErrors, bool inSilent);

    // Removes the top context, handing its errors down when it keeps them.
    void PopContext();

    // Flushes the top context.
    void Flush();

    VError GetLastError() const;
    VErrorBase* GetLast() const;
    VErrorBase* GetFirst() const;
    VErrorBase* Find(VError inError) const;
    bool IsErrorFiltered(VError inError) const;
    bool FailedForMemory() const;

    // Appends the errors of every context, bottom first, to the context.
    void GetErrors(VErrorContext& ioContext) const;

    // Hands the top context's errors down (when it keeps them), then empties
    // it and gives it the silent flag.
    void MergeAndFlushLastContext(bool inSilent);

    // Keeps the context as the spare one when it is clean and there is no
    // spare, else releases it.
    void RecycleContext(VErrorContext* inContext);

    // Adds one "__ERROR" child per error of the current task's stack.
    static void BuildErrorStack(VValueBag& ioBag);

    size_t GetContextsCount() const { return fContexts.size(); }
    VErrorContext* GetNthContext(size_t inIndex) const { return inIndex < fContexts.size() ? fContexts[inIndex] : nullptr; }
    VErrorContext* GetTopContext() const { return fContexts.empty() ? nullptr : fContexts.back(); }
    VErrorContext* GetSpareContext() const { return fSpare; }

private:
    static bool _IsClean(const VErrorContext* inContext);

    VErrorContext* fSpare = nullptr;
    std::vector<VErrorContext*> fContexts;
};

// Installs an error context on the current task for its lifetime.
class StErrorContextInstaller {
public:
    explicit StErrorContextInstaller(bool inKeepingErrors = true, bool inSilent = false);

    // A keeping, non-silent context filtering the given codes: the first
    // always, then the others up to the first 0.
    template <typename... Codes>
    StErrorContextInstaller(VError inFirst, VError inSecond, Codes... inOthers)
    {
        _Init(true, false);
        const VError codes[] = {inSecond, static_cast<VError>(inOthers)..., VError(0)};
        _AddFilters(inFirst, codes);
    }

    StErrorContextInstaller(const StErrorContextInstaller&) = delete;
    StErrorContextInstaller& operator=(const StErrorContextInstaller&) = delete;
    ~StErrorContextInstaller();

    VErrorContext* GetContext() const { return fContext; }
    VError GetLastError() const;

    // True while the installed context is on top of the task's stack exactly
    // as it was pushed: no error, filter or parameter, the same flags and no
    // other holder. Such a context can serve the next piece of work as a
    // fresh context of its own (the message loop runs message after message
    // in one until a message leaves a trace in it).
    bool IsUnused() const;

private:
    void _Init(bool inKeepingErrors, bool inSilent);
    void _AddFilters(VError inFirst, const VError* inOthers);

    VErrorTaskContext* fTaskContext = nullptr;
    VErrorContext* fContext = nullptr;
    bool fSilent = false;
    bool fKeepingErrors = true;
};

}  // namespace qelt
