// The platform half of a fiber-style task: its fiber is made and entered at
// Run; it sleeps and freezes through the fiber scheduler's flag waits on its
// wake counter. Exists only in a process that enables fibers.
#pragma once

#include <cstdint>

#include "runtime/mac/XMacTask.h"

namespace qelt {

class XMacTask_fiber : public XMacTask {
public:
    explicit XMacTask_fiber(VTask* task);
    ~XMacTask_fiber() override;

    bool Run() override;
    void WakeUp() override;
    void Freeze() override;
    void Sleep(int milliseconds) override;
    bool CheckSystemMessages() override { return false; }
    void Exit(VTask* switchTo) override;

    // The fiber's entry; the argument is the task's _FiberData.
    static void _ThreadProc(void* data);

    int32_t GetWakeCounter() const;

private:
    int32_t fWakeCounter = 0;
};

}  // namespace qelt
