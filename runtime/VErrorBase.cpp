#include "runtime/VErrorBase.h"

#include <cstdio>
#include <cstring>
#include <new>
#include <string>
#include <utility>

#include "kernel/VProcessServices.h"
#include "runtime/ILocalizer.h"
#include "runtime/VErrorContext.h"
#include "runtime/VErrorTexts.h"
#include "runtime/VTask.h"
#include "runtime/ErrorBagKeys.h"
#include "values/VBagArray.h"
#include "values/VValueBag.h"
#include "json/VJSONObject.h"

namespace qelt {

namespace {

const StPackedDictionaryKey kP1Key("p1");
const StPackedDictionaryKey kP2Key("p2");
const StPackedDictionaryKey kP3Key("p3");
const StPackedDictionaryKey kErrorDescriptionKey("error_description");
const StPackedDictionaryKey kActionDescriptionKey("action_description");

// The four signature characters in reading order.
void SignatureChars(VError inError, char outChars[5])
{
    const OsType sig = VErrorComponent(inError);
    outChars[0] = static_cast<char>((sig >> 24) & 0xFF);
    outChars[1] = static_cast<char>((sig >> 16) & 0xFF);
    outChars[2] = static_cast<char>((sig >> 8) & 0xFF);
    outChars[3] = static_cast<char>(sig & 0xFF);
    outChars[4] = 0;
}

}  // namespace

VErrorBase::VErrorBase()
    : fBag(new VValueBag)
{
}

VErrorBase::VErrorBase(VError inError)
    : fError(inError)
    , fBag(new VValueBag)
{
    if (VTask* task = VTask::GetCurrent()) {
        fTaskID = task->GetID();
        task->GetName(fTaskName);
    }
}

VErrorBase::VErrorBase(const VErrorBase& inOther)
    : VObject(inOther)
    , IRefCountable()
    , fError(inOther.fError)
    , fTaskID(inOther.fTaskID)
    , fTaskName(inOther.fTaskName)
    , fBag(inOther.fBag->Clone())
{
}

VErrorBase::~VErrorBase()
{
    ReleaseRefCountable(fBag);
}

void VErrorBase::GetErrorString(VString& outText) const
{
    char sig[5];
    SignatureChars(fError, sig);
    char text[64];
    std::snprintf(text, sizeof(text), "Error code: %d (%.4s)", VErrorNumber(fError), sig);
    outText.FromCString(text);
}

void VErrorBase::_FormatWithParameters(VString& ioText) const
{
    // Each {name} becomes the text of the parameter of that name; a
    // placeholder without a parameter is removed.
    ioText.Format(fBag, true);
}

void VErrorBase::GetErrorDescription(VString& outText) const
{
    if (fError != 0) {
        std::lock_guard<std::recursive_mutex> lock(LocalizersMutex());
        ILocalizer* localizer = GetLocalizer(VErrorComponent(fError));
        if (localizer != nullptr && localizer->LocalizeErrorMessage(fError, outText)) {
            _FormatWithParameters(outText);
        } else {
            outText.Clear();
            std::string system;
            if (GetNativeErrorText(fError, system))
                outText.FromCString(system.c_str());
        }
        if (!outText.IsEmpty())
            return;
    }
    outText.Clear();
    fBag->GetAttribute(kErrorDescriptionKey, outText);
    if (!outText.IsEmpty()) {
        _FormatWithParameters(outText);
        return;
    }
    GetErrorString(outText);
}

void VErrorBase::GetActionDescription(VString& outText) const
{
    outText.Clear();
    fBag->GetAttribute(kActionDescriptionKey, outText);
    if (!outText.IsEmpty())
        _FormatWithParameters(outText);
}

void VErrorBase::GetLocation(VString& outText) const
{
    if (VErrorComponent(fError) == kSignatureQelt) {
        outText.FromCString("qeltcore");
        return;
    }
    char sig[5];
    SignatureChars(fError, sig);
    char text[32];
    std::snprintf(text, sizeof(text), "component: '%c%c%c%c'", sig[0], sig[1], sig[2], sig[3]);
    outText.FromCString(text);
}

void VErrorBase::GetTaskName(VString& outName, int* outTaskID) const
{
    outName = fTaskName;
    if (outTaskID != nullptr)
        *outTaskID = fTaskID;
}

void VErrorBase::DumpToString(VString& outText) const
{
    VString result;
    VString line;
    GetErrorString(line);
    result.AppendString(line).AppendUniChar('\n');
    GetErrorDescription(line);
    if (!line.IsEmpty())
        result.AppendString(line).AppendUniChar('\n');
    GetLocation(line);
    if (!line.IsEmpty())
        result.AppendString(line).AppendUniChar('\n');
    GetActionDescription(line);
    if (!line.IsEmpty())
        result.AppendString(line).AppendUniChar('\n');
    char task[32];
    std::snprintf(task, sizeof(task), "task %d", fTaskID);
    result.AppendCString(task);
    if (!fTaskName.IsEmpty())
        result.AppendCString(", name: '").AppendString(fTaskName).AppendUniChar('\'');
    result.AppendUniChar('\n');
    outText.FromString(result);
}

CharSet VErrorBase::DebugDump(char* ioBuffer, int& ioSize) const
{
    if (ioBuffer == nullptr || ioSize <= 0) {
        ioSize = 0;
        return VTC_UTF_8;
    }
    if (ProcessObjectExists()) {
        VString dump;
        DumpToString(dump);
        // Half the byte size in UTF-16 units, without splitting a pair.
        const int maxUnits = ioSize / 2;
        if (dump.GetLength() > maxUnits)
            dump.Truncate(maxUnits, true);
        const int units = dump.GetLength();
        const UniChar* p = dump.GetCPointer();
        for (int i = 0; i < units; ++i) {
            ioBuffer[2 * i] = static_cast<char>(p[i] & 0xFF);
            ioBuffer[2 * i + 1] = static_cast<char>((p[i] >> 8) & 0xFF);
        }
        ioSize = units * 2;
        return VTC_UTF_16_SMALLENDIAN;
    }
    char sig[5];
    SignatureChars(fError, sig);
    char line[128];
    const int length = std::snprintf(line, sizeof(line), "Error code: %ld, component: '%.4s', task ID: %d",
                                      static_cast<long>(VErrorNumber(fError)), sig, fTaskID);
    const int copied = length < 0 ? 0 : (length < ioSize ? length : ioSize);
    std::memcpy(ioBuffer, line, static_cast<size_t>(copied));
    ioSize = copied;
    return VTC_UTF_8;
}

void VErrorBase::GetStackCrawl(VString& ioText) const
{
    (void)ioText;
}

VError VErrorBase::SaveToBag(VValueBag& ioBag) const
{
    ErrorBagKeys::error_code.Set(ioBag, static_cast<long long>(fError));
    ErrorBagKeys::task_id.Set(ioBag, fTaskID);
    ErrorBagKeys::task_name.Set(ioBag, fTaskName);
    ioBag.ReplaceElement(ErrorBagKeys::parameters, fBag);
    return 0;
}

VError VErrorBase::LoadFromBag(const VValueBag& inBag)
{
    long long code = 0;
    if (ErrorBagKeys::error_code.Get(inBag, code))
        fError = static_cast<VError>(code);
    int taskID = 0;
    if (ErrorBagKeys::task_id.Get(inBag, taskID))
        fTaskID = taskID;
    fTaskName.Clear();
    ErrorBagKeys::task_name.Get(inBag, fTaskName);
    VBagArray* parameters = inBag.GetElements(ErrorBagKeys::parameters);
    if (parameters != nullptr && parameters->GetCount() > 0) {
        VValueBag* first = parameters->RetainNth(1);
        if (first != nullptr) {
            VValueBag* clone = first->Clone();
            first->Release();
            if (clone != nullptr) {
                ReleaseRefCountable(fBag);
                fBag = clone;
            }
        }
    }
    return 0;
}

VJSONObject* VErrorBase::CreateJSONObject() const
{
    VJSONObject* object = new (std::nothrow) VJSONObject;
    if (object == nullptr)
        return nullptr;
    VString message;
    GetErrorDescription(message);
    object->SetProperty(VString("errCode"), VJSONValue(static_cast<double>(VErrorNumber(fError))));
    object->SetProperty(VString("componentSignature"), VJSONValue(VOsTypeString(VErrorComponent(fError))));
    object->SetProperty(VString("message"), VJSONValue(message));
    return object;
}

bool VErrorBase::Init()
{
    return true;
}

void VErrorBase::DeInit()
{
}

std::map<unsigned int, ILocalizer*>& VErrorBase::_Localizers()
{
    static std::map<unsigned int, ILocalizer*> sLocalizers;
    return sLocalizers;
}

std::recursive_mutex& VErrorBase::LocalizersMutex()
{
    static std::recursive_mutex sMutex;
    return sMutex;
}

void VErrorBase::RegisterLocalizer(unsigned int inSignature, ILocalizer* inLocalizer)
{
    std::lock_guard<std::recursive_mutex> lock(LocalizersMutex());
    _Localizers()[inSignature] = inLocalizer;
}

void VErrorBase::UnregisterLocalizer(unsigned int inSignature)
{
    std::lock_guard<std::recursive_mutex> lock(LocalizersMutex());
    _Localizers().erase(inSignature);
}

void VErrorBase::UnregisterLocalizer(ILocalizer* inLocalizer)
{
    std::lock_guard<std::recursive_mutex> lock(LocalizersMutex());
    auto& localizers = _Localizers();
    for (auto it = localizers.begin(); it != localizers.end();) {
        if (it->second == inLocalizer)
            it = localizers.erase(it);
        else
            ++it;
    }
}

ILocalizer* VErrorBase::GetLocalizer(unsigned int inSignature)
{
    std::lock_guard<std::recursive_mutex> lock(LocalizersMutex());
    auto& localizers = _Localizers();
    auto found = localizers.find(inSignature);
    return found != localizers.end() ? found->second : nullptr;
}

bool VErrorBase::CallLocalizer(ILocalizer* inLocalizer, VError inError, VString& outText) const
{
    if (inError == 0)
        return true;
    std::lock_guard<std::recursive_mutex> lock(LocalizersMutex());
    if (inLocalizer != nullptr && inLocalizer->LocalizeErrorMessage(inError, outText)) {
        _FormatWithParameters(outText);
        return true;
    }
    outText.Clear();
    return false;
}

VError VErrorBase::MAC_MapCarbonErrorToVError(int inStatus)
{
    if (inStatus == 0)
        return 0;
    const VError native = MakeVError(kSignatureCARB, inStatus);
    VError mapped = 0;
    if (FindNativeErrorInTable(native, mapped))
        return mapped;
    return native;
}

VError VErrorBase::EncodedNativeErrorToVError(VError inNativeError, VError inFallback)
{
    const OsType sig = VErrorComponent(inNativeError);
    const int number = VErrorNumber(inNativeError);
    if (sig == kSignatureCARB || sig == kSignaturePOSX) {
        VError mapped = 0;
        if (number != 0 && FindNativeErrorInTable(inNativeError, mapped))
            return mapped;
        return inFallback;
    }
    if ((sig == kSignatureCOCO || sig == kSignatureMACH) && number != 0)
        return inFallback;
    if (inNativeError == QeltError(1))
        return inFallback;
    return inNativeError;
}

// ---------------------------------------------------------------------------

VErrorUserGenerated::VErrorUserGenerated(VError inError, const VString& inMessage)
    : VErrorBase(inError)
    , fMessage(inMessage)
{
}

VErrorUserGenerated::~VErrorUserGenerated() = default;

void VErrorUserGenerated::GetErrorDescription(VString& outText) const
{
    outText = fMessage;
}

void VErrorUserGenerated::DumpToString(VString& outText) const
{
    outText = fMessage;
}

VErrorImported::VErrorImported(VError inError, const VString& inMessage)
    : VErrorBase(inError)
    , fMessage(inMessage)
{
}

VErrorImported::~VErrorImported() = default;

void VErrorImported::GetErrorDescription(VString& outText) const
{
    outText = fMessage;
}

void VErrorImported::DumpToString(VString& outText) const
{
    outText = fMessage;
}

void VErrorImported::GetLocation(VString& outText) const
{
    outText.FromCString("REST Imported Error");
}

// ---------------------------------------------------------------------------

// Raising never fails towards the caller: an error that cannot be built for
// lack of memory is lost, like one that cannot be stored.

void _ThrowError(VError code, const VString* p1, const VString* p2, const VString* p3)
{
    if (!ProcessObjectExists())
        return;
    try {
        VRefPtr<VErrorBase> error = AdoptRef(new VErrorBase(code));
        VValueBag* bag = error->GetBag();
        if (p1 != nullptr)
            bag->SetAttribute(kP1Key, *p1);
        if (p2 != nullptr)
            bag->SetAttribute(kP2Key, *p2);
        if (p3 != nullptr)
            bag->SetAttribute(kP3Key, *p3);
        VTask::PushError(error.Get());
    } catch (const std::bad_alloc&) {
    }
}

bool _PushRetainedError(VErrorBase* inError, VError inNativeError)
{
    if (inError == nullptr)
        return false;
    VRefPtr<VErrorBase> error = AdoptRef(inError);
    try {
        if (inNativeError != 0) {
            bool filtered = false;
            if (VTask::GetCurrent() != nullptr) {
                VErrorTaskContext* stack = VTask::GetErrorContext(false);
                filtered = stack != nullptr && stack->IsErrorFiltered(error->GetError());
            }
            if (!filtered)
                VTask::PushRetainedError(new VErrorBase(inNativeError));
        }
        return VTask::PushRetainedError(error.Forget());
    } catch (const std::bad_alloc&) {
        return false;
    }
}

VError vThrowUserGeneratedError(VError inError, const VString& inMessage)
{
    try {
        VRefPtr<VErrorBase> error = AdoptRef<VErrorBase>(new VErrorUserGenerated(inError, inMessage));
        VTask::PushError(error.Get());
    } catch (const std::bad_alloc&) {
    }
    return inError;
}

}  // namespace qelt
