#include "runtime/VErrorContext.h"

#include <new>

#include "kernel/VString.h"
#include "runtime/VProcessServices_runtime.h"
#include "runtime/ILogger.h"
#include "runtime/VErrorBase.h"
#include "json/VJSONArray.h"
#include "runtime/VTask.h"
#include "kernel/VLong.h"
#include "runtime/ErrorBagKeys.h"
#include "values/VBagArray.h"
#include "values/VValueBag.h"

namespace qelt {

namespace {

const StPackedDictionaryKey kErrorStackElement("__ERROR");
const StPackedDictionaryKey kMessageKey("message");
const StPackedDictionaryKey kComponentSignatureKey("componentSignature");
const StPackedDictionaryKey kErrCodeKey("errCode");

// The error saved in the n-th child of a list of saved errors: null for a
// missing child, and null with outNoMemory set when the error cannot be made.
VRefPtr<VErrorBase> LoadNthError(VBagArray& inChildren, int inIndex, bool& outNoMemory)
{
    outNoMemory = false;
    VRefPtr<VValueBag> child = AdoptRef(inChildren.RetainNth(inIndex));
    if (!child)
        return nullptr;
    VRefPtr<VErrorBase> error = AdoptRef(new (std::nothrow) VErrorBase);
    if (!error) {
        outNoMemory = true;
        return nullptr;
    }
    error->LoadFromBag(*child);
    return error;
}

}  // namespace

// ---------------------------------------------------------------------------
// VErrorContext

VErrorContext::VErrorContext(bool inKeepingErrors, bool inSilent)
    : fSilent(inSilent)
    , fKeepingErrors(inKeepingErrors)
{
}

VErrorContext::VErrorContext(const VErrorContext& inOther)
    : VObject(inOther)
    , IRefCountable()
{
    if (inOther.fParameters != nullptr)
        fParameters = inOther.fParameters->Clone();
    PushErrors(inOther);
}

VErrorContext::~VErrorContext()
{
    Flush();
    ReleaseRefCountable(fParameters);
}

int32_t VErrorContext::GetRefCount() const
{
    return fRefCount.load();
}

bool VErrorContext::_Append(VErrorBase* inError)
{
    try {
        fErrors.push_back(inError);
    } catch (const std::bad_alloc&) {
        return false;
    }
    inError->Retain();
    return true;
}

void VErrorContext::_MergeParametersInto(VErrorBase* inError) const
{
    if (fParameters != nullptr)
        inError->GetBag()->UnionClone(fParameters);
}

bool VErrorContext::PushError(VErrorBase* inError)
{
    if (inError == nullptr)
        return false;
    if (inError->GetError() == QeltError(100))
        fFailedForMemory = true;
    _MergeParametersInto(inError);
    return _Append(inError);
}

void VErrorContext::PushErrors(const VErrorContext& inOther)
{
    if (&inOther == this)
        return;
    for (VErrorBase* error : inOther.fErrors) {
        _MergeParametersInto(error);
        if (!_Append(error))
            break;
    }
    // Combined, never cleared: the enclosing context keeps its own flag.
    fFailedForMemory = fFailedForMemory || inOther.fFailedForMemory;
}

void VErrorContext::AddErrorToFilter(VError inError)
{
    try {
        fFilteredErrors.push_back(inError);
    } catch (const std::bad_alloc&) {
    }
}

bool VErrorContext::IsErrorFiltered(VError inError) const
{
    for (VError filtered : fFilteredErrors) {
        if (filtered == inError)
            return true;
    }
    return false;
}

VValueBag* VErrorContext::GetParametersForPushedErrors(bool inCreateIfMissing)
{
    if (fParameters == nullptr && inCreateIfMissing)
        fParameters = new (std::nothrow) VValueBag;
    return fParameters;
}

void VErrorContext::Flush()
{
    while (!fErrors.empty()) {
        VErrorBase* error = fErrors.back();
        fErrors.pop_back();
        error->Release();
    }
    fFailedForMemory = false;
}

VErrorBase* VErrorContext::GetFirst() const
{
    return fErrors.empty() ? nullptr : fErrors.front();
}

VErrorBase* VErrorContext::GetLast() const
{
    return fErrors.empty() ? nullptr : fErrors.back();
}

VError VErrorContext::GetLastError() const
{
    return fErrors.empty() ? 0 : fErrors.back()->GetError();
}

VErrorBase* VErrorContext::Find(VError inError) const
{
    for (VErrorBase* error : fErrors) {
        if (error->GetError() == inError)
            return error;
    }
    return nullptr;
}

bool VErrorContext::_FindAny(const VError* inCodes) const
{
    for (const VError* code = inCodes; *code != 0; ++code) {
        if (Find(*code) != nullptr)
            return true;
    }
    return false;
}

void VErrorContext::SendErrorsToLogger() const
{
    ILogger* logger = GetProcessLogger();
    if (logger == nullptr)
        return;
    for (VErrorBase* error : fErrors)
        logger->LogErrorIfNecessary(error);
}

VError VErrorContext::SaveToBag(VValueBag& ioBag) const
{
    for (VErrorBase* error : fErrors) {
        VRefPtr<VValueBag> child = AdoptRef(new (std::nothrow) VValueBag);
        if (!child)
            return QeltError(100);
        error->SaveToBag(*child);
        ioBag.AddElement(ErrorBagKeys::error, child.Get());
    }
    return 0;
}

VError VErrorContext::LoadFromBag(const VValueBag& inBag)
{
    VBagArray* children = inBag.GetElements(ErrorBagKeys::error);
    if (children == nullptr)
        return 0;
    const int count = children->GetCount();
    for (int i = 1; i <= count; ++i) {
        bool noMemory = false;
        VRefPtr<VErrorBase> error = LoadNthError(*children, i, noMemory);
        if (noMemory || (error && !_Append(error.Get())))
            return QeltError(100);
    }
    return 0;
}

void VErrorContext::SaveToJSONArray(VJSONValue& outValue) const
{
    if (fErrors.empty()) {
        outValue.SetUndefined();
        return;
    }
    VRefPtr<VJSONArray> array = AdoptRef(new (std::nothrow) VJSONArray);
    if (!array) {
        outValue.SetUndefined();
        return;
    }
    for (const VErrorBase* error : fErrors) {
        VRefPtr<VJSONObject> object = AdoptRef(error->CreateJSONObject());
        if (object)
            array->Push(VJSONValue(object.Get()));
    }
    outValue.SetArray(array.Get());
}

// ---------------------------------------------------------------------------
// VErrorTaskContext

VErrorTaskContext::VErrorTaskContext()
    : fSpare(new (std::nothrow) VErrorContext(true, false))
{
}

VErrorTaskContext::~VErrorTaskContext()
{
    while (!fContexts.empty()) {
        VErrorContext* context = fContexts.back();
        fContexts.pop_back();
        context->Release();
    }
    ReleaseRefCountable(fSpare);
}

bool VErrorTaskContext::PushError(VErrorBase* inError, bool* outSilent)
{
    if (outSilent != nullptr)
        *outSilent = false;
    if (inError == nullptr)
        return false;
    if (fContexts.empty()) {
        VErrorContext* base = new (std::nothrow) VErrorContext(true, false);
        if (base == nullptr)
            return false;
        try {
            fContexts.push_back(base);
        } catch (const std::bad_alloc&) {
            base->Release();
            return false;
        }
    }
    VErrorContext* top = fContexts.back();
    if (!top->PushError(inError))
        return false;
    const VError code = inError->GetError();
    for (auto it = fContexts.rbegin(); it != fContexts.rend(); ++it) {
        VErrorContext* context = *it;
        if (context->IsSilent()) {
            if (outSilent != nullptr)
                *outSilent = true;
            break;
        }
        if (context->IsErrorFiltered(code)) {
            // A filtered code silences the context on top and makes it drop
            // what it holds when it is removed.
            top->SetSilent(true);
            top->SetKeepingErrors(false);
            if (outSilent != nullptr)
                *outSilent = true;
            break;
        }
    }
    return true;
}

void VErrorTaskContext::PushErrorsFromContext(const VErrorContext* inContext)
{
    if (inContext == nullptr)
        return;
    // A copy of the list: pushing into our own top context must not disturb
    // the walk when the given context is that top context.
    const std::vector<VErrorBase*> errors = inContext->GetErrors();
    for (VErrorBase* error : errors)
        PushError(error, nullptr);
}

void VErrorTaskContext::PushErrorsFromBag(const VValueBag& inBag)
{
    VBagArray* children = inBag.GetElements(ErrorBagKeys::error);
    if (children == nullptr)
        return;
    const int count = children->GetCount();
    for (int i = 1; i <= count; ++i) {
        bool noMemory = false;
        VRefPtr<VErrorBase> error = LoadNthError(*children, i, noMemory);
        if (noMemory)
            return;
        if (error)
            PushError(error.Get(), nullptr);
    }
}

VErrorContext* VErrorTaskContext::PushNewContext(bool inKeepingErrors, bool inSilent)
{
    VErrorContext* context = nullptr;
    if (fSpare != nullptr) {
        context = fSpare;
        fSpare = nullptr;
        context->SetKeepingErrors(inKeepingErrors);
        context->SetSilent(inSilent);
        context->SetFailedForMemory(false);
    } else {
        context = new (std::nothrow) VErrorContext(inKeepingErrors, inSilent);
        if (context == nullptr)
            return nullptr;
    }
    try {
        fContexts.push_back(context);
    } catch (const std::bad_alloc&) {
        context->Release();
        return nullptr;
    }
    context->Retain();
    return context;
}

void VErrorTaskContext::PopContext()
{
    if (fContexts.empty())
        return;
    VErrorContext* top = fContexts.back();
    if (!top->IsEmpty() && top->IsKeepingErrors()) {
        if (fContexts.size() == 1) {
            if (top->IsSilent())
                top->SendErrorsToLogger();
            VErrorContext* copy = new (std::nothrow) VErrorContext(*top);
            if (copy != nullptr) {
                fContexts.back() = copy;
                top->Release();
                return;
            }
            // Without memory for the copy the errors go with the context.
        } else {
            fContexts.pop_back();
            VErrorContext* below = fContexts.back();
            if (top->IsSilent() && !below->IsSilent())
                top->SendErrorsToLogger();
            below->PushErrors(*top);
            top->Release();
            return;
        }
    }
    fContexts.pop_back();
    top->Release();
}

void VErrorTaskContext::Flush()
{
    if (!fContexts.empty())
        fContexts.back()->Flush();
}

VError VErrorTaskContext::GetLastError() const
{
    return fContexts.empty() ? 0 : fContexts.back()->GetLastError();
}

VErrorBase* VErrorTaskContext::GetLast() const
{
    for (auto it = fContexts.rbegin(); it != fContexts.rend(); ++it) {
        if (VErrorBase* error = (*it)->GetLast())
            return error;
    }
    return nullptr;
}

VErrorBase* VErrorTaskContext::GetFirst() const
{
    for (VErrorContext* context : fContexts) {
        if (VErrorBase* error = context->GetFirst())
            return error;
    }
    return nullptr;
}

VErrorBase* VErrorTaskContext::Find(VError inError) const
{
    for (VErrorContext* context : fContexts) {
        if (VErrorBase* error = context->Find(inError))
            return error;
    }
    return nullptr;
}

bool VErrorTaskContext::IsErrorFiltered(VError inError) const
{
    for (VErrorContext* context : fContexts) {
        if (context->IsErrorFiltered(inError))
            return true;
    }
    return false;
}

bool VErrorTaskContext::FailedForMemory() const
{
    return !fContexts.empty() && fContexts.back()->FailedForMemory();
}

void VErrorTaskContext::GetErrors(VErrorContext& ioContext) const
{
    for (VErrorContext* context : fContexts)
        ioContext.PushErrors(*context);
}

void VErrorTaskContext::MergeAndFlushLastContext(bool inSilent)
{
    if (fContexts.empty())
        return;
    VErrorContext* top = fContexts.back();
    if (top->IsEmpty())
        return;
    if (top->IsKeepingErrors()) {
        if (inSilent)
            top->SendErrorsToLogger();
        if (fContexts.size() < 2) {
            VErrorContext* copy = new (std::nothrow) VErrorContext(*top);
            if (copy != nullptr) {
                try {
                    fContexts.insert(fContexts.begin(), copy);
                } catch (const std::bad_alloc&) {
                    copy->Release();
                }
            }
        } else {
            fContexts[fContexts.size() - 2]->PushErrors(*top);
        }
    }
    top->Flush();
    top->SetSilent(inSilent);
}

bool VErrorTaskContext::_IsClean(const VErrorContext* inContext)
{
    return inContext->IsEmpty() && !inContext->HasFilters() && !inContext->HasParametersForPushedErrors() &&
           inContext->GetRefCount() == 1;
}

void VErrorTaskContext::RecycleContext(VErrorContext* inContext)
{
    if (inContext == nullptr)
        return;
    if (fSpare == nullptr && _IsClean(inContext))
        fSpare = inContext;
    else
        inContext->Release();
}

void VErrorTaskContext::BuildErrorStack(VValueBag& ioBag)
{
    VErrorTaskContext* stack = VTask::GetErrorContext(false);
    if (stack == nullptr)
        return;
    for (VErrorContext* context : stack->fContexts) {
        for (VErrorBase* error : context->GetErrors()) {
            VRefPtr<VValueBag> child = AdoptRef(new (std::nothrow) VValueBag);
            if (!child)
                return;
            VString message;
            error->GetErrorDescription(message);
            child->SetAttribute(kMessageKey, message);
            const OsType sig = VErrorComponent(error->GetError());
            const char chars[5] = {static_cast<char>((sig >> 24) & 0xFF), static_cast<char>((sig >> 16) & 0xFF),
                                   static_cast<char>((sig >> 8) & 0xFF), static_cast<char>(sig & 0xFF), 0};
            child->SetAttribute(kComponentSignatureKey, VString(chars));
            child->SetAttribute(kErrCodeKey, VLong(VErrorNumber(error->GetError())));
            ioBag.AddElement(kErrorStackElement, child.Get());
        }
    }
}

// ---------------------------------------------------------------------------
// StErrorContextInstaller

StErrorContextInstaller::StErrorContextInstaller(bool inKeepingErrors, bool inSilent)
{
    _Init(inKeepingErrors, inSilent);
}

void StErrorContextInstaller::_Init(bool inKeepingErrors, bool inSilent)
{
    fSilent = inSilent;
    fKeepingErrors = inKeepingErrors;
    if (VTask::GetCurrent() != nullptr) {
        fTaskContext = VTask::GetErrorContext(true);
        if (fTaskContext != nullptr) {
            fContext = fTaskContext->PushNewContext(inKeepingErrors, inSilent);
            return;
        }
    }
    fTaskContext = nullptr;
    fContext = new (std::nothrow) VErrorContext(inKeepingErrors, inSilent);
}

void StErrorContextInstaller::_AddFilters(VError inFirst, const VError* inOthers)
{
    if (fContext == nullptr)
        return;
    fContext->AddErrorToFilter(inFirst);
    for (const VError* code = inOthers; *code != 0; ++code)
        fContext->AddErrorToFilter(*code);
}

StErrorContextInstaller::~StErrorContextInstaller()
{
    if (fContext == nullptr)
        return;
    if (fTaskContext != nullptr) {
        fTaskContext->PopContext();
        fTaskContext->RecycleContext(fContext);
    } else {
        fContext->Release();
    }
    fContext = nullptr;
}

bool StErrorContextInstaller::IsUnused() const
{
    // On the stack and held by this installer: two references.
    return fTaskContext != nullptr && fContext != nullptr && fTaskContext->GetTopContext() == fContext &&
           fContext->IsEmpty() && !fContext->HasFilters() && !fContext->HasParametersForPushedErrors() &&
           !fContext->FailedForMemory() && fContext->IsSilent() == fSilent &&
           fContext->IsKeepingErrors() == fKeepingErrors && fContext->GetRefCount() == 2;
}

VError StErrorContextInstaller::GetLastError() const
{
    return fContext != nullptr ? fContext->GetLastError() : 0;
}

}  // namespace qelt
