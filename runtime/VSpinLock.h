// The toolbox's lowest lock: a 32-bit word whose bit 31 is set while the lock
// is held. Every spin lock of the process is taken and released through the
// two function pointers SpinLock::Lock and SpinLock::Unlock, so that one
// acquisition strategy, chosen once at start-up, holds everywhere.
#pragma once

#include <atomic>
#include <cstdint>
#include <optional>
#include <string>

namespace qelt {

class VJSONValue;

// Settings read from the "spinlock.prm" file; an absent member keeps the
// current setting.
struct SpinLockSettings {
    std::optional<std::string> mode;          // a strategy name
    std::optional<double> maxSpins;           // truncated toward zero
    std::optional<bool> yieldAfterCheckEvent;
};

class SpinLock {
public:
    using LockFunction = void (*)(uint32_t* word);

    // The bit of the word that is set while the lock is held.
    static constexpr uint32_t kHeldBit = 0x80000000u;

    // Take and release a spin word (always call through these).
    static LockFunction Lock;
    static LockFunction Unlock;

    // Reads "spinlock.prm" beside the executable and applies it. Called once
    // by the task manager's initialisation while the main task is the only
    // running task; does nothing otherwise.
    static void Configure();

    // Applies settings as read from the file (see the key table of
    // "spinlock.prm": "mode", "maxSpins", "yieldAfterCheckEvent").
    static void ApplySettings(const SpinLockSettings& settings);

    // Reads the settings from the parsed content of "spinlock.prm": false
    // unless it is a JSON object; a key whose value has another JSON type
    // than its own is ignored.
    static bool SettingsFromJSON(const VJSONValue& content, SpinLockSettings& outSettings);

    // Puts back the built-in settings.
    static void ResetSettings();

    // One try: sets bit 31; true when it was clear before. Inline: the
    // critical section tries once before it calls the strategy.
    static bool TryOnce(uint32_t* word)
    {
        const uint32_t previous = std::atomic_ref<uint32_t>(*word).fetch_or(kHeldBit, std::memory_order_acquire);
        return (previous & kHeldBit) == 0;
    }

    // The acquisition strategies and the release function.
    static void LockMaxSpinsThenLoopYields(uint32_t* word);
    static void LockLoopMaxSpinsAndYields(uint32_t* word);
    static void LockAlwaysSleep(uint32_t* word);
    static void Release(uint32_t* word);

    // The number of zero-length sleeps the "alwaysSleep" strategy makes
    // before it sleeps 1 ms between tries, for a machine with `processors`
    // logical processors (one less than the threshold L).
    static int AlwaysSleepZeroSleeps(int processors);

    static int GetMaxSpins();
    static bool GetYieldAfterCheckEvent();

private:
    // Fills `outSettings` from "spinlock.prm"; false when there is no file
    // or it does not hold a JSON object.
    static bool _ReadSettingsFile(SpinLockSettings& outSettings);

    static int sMaxSpins;
    static bool sYieldAfterCheckEvent;
};

// Holds a spin word for the length of a scope.
class StSpinLocker {
public:
    explicit StSpinLocker(uint32_t* word) : fWord(word) { SpinLock::Lock(fWord); }
    ~StSpinLocker() { SpinLock::Unlock(fWord); }
    StSpinLocker(const StSpinLocker&) = delete;
    StSpinLocker& operator=(const StSpinLocker&) = delete;

private:
    uint32_t* fWord;
};

}  // namespace qelt
