// The toolbox's lowest lock: a 32-bit word whose bit 31 is set while the lock
// is held. Every spin lock of the process is taken and released through the
// two function pointers SpinLock::Lock and SpinLock::Unlock, so that one
// acquisition strategy, chosen once at start-up, holds everywhere.
#pragma once

#include <atomic>
#include <cstdint>
#include <optional>
#include <string>

#include <sys/single_threaded.h>

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
    //
    // While the process has never had a second thread (the C library's flag
    // says so, and a thread start clears it before the thread runs) nobody
    // else can touch the word, so the try needs no atomic instruction; the C
    // library takes its own mutexes the same way.
    static bool TryOnce(uint32_t* word)
    {
        std::atomic_ref<uint32_t> w(*word);
        if (__libc_single_threaded) {
            const uint32_t previous = w.load(std::memory_order_relaxed);
            if ((previous & kHeldBit) != 0)
                return false;
            w.store(previous | kHeldBit, std::memory_order_relaxed);
            return true;
        }
        return _SetHeldBit(word);
    }

    // Atomically sets bit 31 with acquire ordering; true when it was clear.
    // On x86 one "lock bts": the compiler turns the portable form into a
    // compare-and-swap loop once a plain load of the word sits beside it,
    // and that loop retries under contention. The thread sanitizer only
    // sees the portable form.
    static bool _SetHeldBit(uint32_t* word)
    {
#if defined(__x86_64__) && !defined(__SANITIZE_THREAD__)
        static_assert(kHeldBit == 1u << 31);
        bool wasSet;
        __asm__ __volatile__("lock btsl $31, %0" : "+m"(*word), "=@ccc"(wasSet) : : "memory");
        return !wasSet;
#else
        return (std::atomic_ref<uint32_t>(*word).fetch_or(kHeldBit, std::memory_order_acquire) & kHeldBit) == 0;
#endif
    }

    // The acquisition strategies.
    static void LockMaxSpinsThenLoopYields(uint32_t* word);
    static void LockLoopMaxSpinsAndYields(uint32_t* word);
    static void LockAlwaysSleep(uint32_t* word);

    // The release function of every strategy: clears bit 31 with a release
    // store. Only the holder writes while it holds the word, so no atomic
    // read-modify-write is needed. Inline, so that the critical section
    // releases without a call.
    static void Release(uint32_t* word)
    {
        std::atomic_ref<uint32_t> w(*word);
        w.store(w.load(std::memory_order_relaxed) & ~kHeldBit, std::memory_order_release);
    }

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
