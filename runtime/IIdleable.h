// Objects that want a periodic idle call from a task, and the self-renewing
// message that idles such an object every 16 ms.
#pragma once

#include <atomic>
#include <memory>
#include <mutex>

#include "runtime/VMessage.h"

namespace qelt {

class VTask;
class IIdleable;

// Tells messages and idle passes whether an idler still exists. Holding its
// lock keeps the idler from finishing its destruction.
struct VIdleToken {
    std::recursive_mutex lock;
    IIdleable* idleable = nullptr;
};

class IIdleable {
public:
    IIdleable();
    virtual ~IIdleable();
    IIdleable(const IIdleable&) = delete;
    IIdleable& operator=(const IIdleable&) = delete;

    virtual void DoIdle() {}

    // Registers with the task (the current task without argument); a null
    // task does nothing.
    void StartIdling(VTask* task);
    void StartIdling();
    void StopIdling();
    // Calls DoIdle when idling.
    void Idle();
    bool IsIdling() const;

    const std::shared_ptr<VIdleToken>& _GetToken() const { return fToken; }

private:
    void _StopIdling(bool fromDestructor);

    std::shared_ptr<VIdleToken> fToken;
    VTask* fTask = nullptr;
    std::atomic<bool> fIdling{false};
};

class XIdleMessage : public VMessage {
public:
    explicit XIdleMessage(IIdleable* idleable);
    void DoExecute() override;

protected:
    ~XIdleMessage() override = default;

private:
    std::shared_ptr<VIdleToken> fToken;
};

}  // namespace qelt
