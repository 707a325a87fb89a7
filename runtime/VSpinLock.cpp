#include "runtime/VSpinLock.h"

#include <atomic>
#include <cmath>
#include <limits>
#include <thread>

#include "files/VFile.h"
#include "json/VJSONObject.h"
#include "kernel/VString.h"
#include "kernel/VProcessServices.h"
#include "runtime/VProcessServices_runtime.h"
#include "runtime/VErrorContext.h"
#include "runtime/VTask.h"
#include "runtime/VTaskMgr.h"

namespace qelt {

SpinLock::LockFunction SpinLock::Lock = &SpinLock::LockMaxSpinsThenLoopYields;
SpinLock::LockFunction SpinLock::Unlock = &SpinLock::Release;
int SpinLock::sMaxSpins = 1;
bool SpinLock::sYieldAfterCheckEvent = false;

namespace {

constexpr const char* kModeMaxSpinsThenLoopYields = "maxSpinsThenLoopYields";
constexpr const char* kModeLoopMaxSpinsAndYields = "loopMaxSpinsAndYields";
constexpr const char* kModeAlwaysSleep = "alwaysSleep";

// Mode names are compared without regard to case, as the file is written by hand.
bool SameModeName(const std::string& a, const char* b)
{
    size_t i = 0;
    for (; i < a.size() && b[i] != 0; ++i) {
        char ca = a[i], cb = b[i];
        if (ca >= 'A' && ca <= 'Z')
            ca = static_cast<char>(ca - 'A' + 'a');
        if (cb >= 'A' && cb <= 'Z')
            cb = static_cast<char>(cb - 'A' + 'a');
        if (ca != cb)
            return false;
    }
    return i == a.size() && b[i] == 0;
}

}  // namespace

void SpinLock::LockMaxSpinsThenLoopYields(uint32_t* word)
{
    int spins = GetMaxSpins();
    if (spins < 1)
        spins = 1;
    for (int i = 0; i < spins; ++i) {
        if (TryOnce(word))
            return;
    }
    do {
        VTaskMgr::YieldNow();
    } while (!TryOnce(word));
}

void SpinLock::LockLoopMaxSpinsAndYields(uint32_t* word)
{
    while (true) {
        int spins = GetMaxSpins();
        if (spins < 1)
            spins = 1;
        for (int i = 0; i < spins; ++i) {
            if (TryOnce(word))
                return;
        }
        VTaskMgr::YieldNow();
        if (TryOnce(word))
            return;
    }
}

int SpinLock::AlwaysSleepZeroSleeps(int processors)
{
    int threshold = processors >= 9 ? processors : 8;
    return threshold - 1;
}

void SpinLock::LockAlwaysSleep(uint32_t* word)
{
    if (TryOnce(word))
        return;
    static const int sProcessors = [] {
        unsigned int n = std::thread::hardware_concurrency();
        return n == 0 ? 1 : static_cast<int>(n);
    }();
    const int zeroSleeps = AlwaysSleepZeroSleeps(sProcessors);
    for (int i = 1;; ++i) {
        VTask::Sleep(i <= zeroSleeps ? 0 : 1);
        if (TryOnce(word))
            return;
    }
}

int SpinLock::GetMaxSpins()
{
    return std::atomic_ref<int>(sMaxSpins).load(std::memory_order_relaxed);
}

bool SpinLock::GetYieldAfterCheckEvent()
{
    return std::atomic_ref<bool>(sYieldAfterCheckEvent).load(std::memory_order_relaxed);
}

void SpinLock::ResetSettings()
{
    Lock = &LockMaxSpinsThenLoopYields;
    Unlock = &Release;
    std::atomic_ref<int>(sMaxSpins).store(1, std::memory_order_relaxed);
    std::atomic_ref<bool>(sYieldAfterCheckEvent).store(false, std::memory_order_relaxed);
}

void SpinLock::ApplySettings(const SpinLockSettings& settings)
{
    if (settings.mode) {
        LockFunction chosen = nullptr;
        if (SameModeName(*settings.mode, kModeMaxSpinsThenLoopYields))
            chosen = &LockMaxSpinsThenLoopYields;
        else if (SameModeName(*settings.mode, kModeLoopMaxSpinsAndYields))
            chosen = &LockLoopMaxSpinsAndYields;
        else if (SameModeName(*settings.mode, kModeAlwaysSleep))
            chosen = &LockAlwaysSleep;
        if (chosen != nullptr) {
            Lock = chosen;
            Unlock = &Release;
        }
    }
    if (settings.maxSpins) {
        // Truncated toward zero into 32 bits; values out of range or not a
        // number are clamped rather than left to undefined conversion.
        double value = std::trunc(*settings.maxSpins);
        int spins;
        if (std::isnan(value))
            spins = 0;
        else if (value >= static_cast<double>(std::numeric_limits<int>::max()))
            spins = std::numeric_limits<int>::max();
        else if (value <= static_cast<double>(std::numeric_limits<int>::min()))
            spins = std::numeric_limits<int>::min();
        else
            spins = static_cast<int>(value);
        std::atomic_ref<int>(sMaxSpins).store(spins, std::memory_order_relaxed);
    }
    if (settings.yieldAfterCheckEvent)
        std::atomic_ref<bool>(sYieldAfterCheckEvent).store(*settings.yieldAfterCheckEvent, std::memory_order_relaxed);
}

void SpinLock::Configure()
{
    // Only while the main task is the only running task.
    if (!VTaskMgr::sInstanceInited || VTaskMgr::Get()->GetTaskCount(false) != 1)
        return;

    SpinLockSettings settings;
    if (!_ReadSettingsFile(settings))
        return;
    ApplySettings(settings);
}

bool SpinLock::SettingsFromJSON(const VJSONValue& content, SpinLockSettings& outSettings)
{
    outSettings = SpinLockSettings();
    VJSONObject* object = content.GetObject();
    if (object == nullptr)
        return false;

    VJSONValue mode = object->GetProperty(VString("mode"));
    if (mode.IsString()) {
        VString text;
        mode.GetString(text);
        std::string name;
        for (int i = 0; i < text.GetLength(); ++i) {
            UniChar c = text.GetCPointer()[i];
            name += c < 0x80 ? static_cast<char>(c) : '\x7F';  // no strategy name has such a character
        }
        outSettings.mode = name;
    }
    VJSONValue maxSpins = object->GetProperty(VString("maxSpins"));
    if (maxSpins.IsNumber())
        outSettings.maxSpins = maxSpins.GetNumber();
    VJSONValue yield = object->GetProperty(VString("yieldAfterCheckEvent"));
    if (yield.IsBool())
        outSettings.yieldAfterCheckEvent = yield.GetBool();
    return true;
}

bool SpinLock::_ReadSettingsFile(SpinLockSettings& outSettings)
{
    // "spinlock.prm" lies in the folder of the executable (the process
    // object finds it, its exact name first, then without regard to letter
    // case) and holds one JSON object. Its absence, a program without a
    // process object, or a text that does not read, keeps the built-in
    // settings; nothing it raises stays on the error stack.
    if (!ProcessObjectExists())
        return false;
    StErrorContextInstaller quiet(false, true);
    VRefPtr<VFile> file = AdoptRef(RetainProcessFile(FourCC("EXEC"), VString("spinlock.prm")));
    if (file.Get() == nullptr)
        return false;
    VJSONValue content(JSON_undefined);
    file->GetContentAsJSON(content, VTC_UTF_8);
    return SettingsFromJSON(content, outSettings);
}

}  // namespace qelt
