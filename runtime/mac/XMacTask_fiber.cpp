#include "runtime/mac/XMacTask_fiber.h"

#include <atomic>

#include "runtime/VTask.h"
#include "runtime/VTaskMgr.h"
#include "runtime/mac/XMacFiber.h"
#include "runtime/mac/XMacTaskMgr.h"

namespace qelt {

XMacTask_fiber::XMacTask_fiber(VTask* task) : XMacTask(task, false) {}

XMacTask_fiber::~XMacTask_fiber()
{
    if (fFiber != nullptr) {
        DeleteFiber(fFiber);
        fFiber = nullptr;
    }
}

int32_t XMacTask_fiber::GetWakeCounter() const
{
    return std::atomic_ref<int32_t>(const_cast<int32_t&>(fWakeCounter)).load();
}

bool XMacTask_fiber::Run()
{
    fStackSize = fTask->GetStackSize();
    _FiberData* data = new _FiberData(fTask);
    XMacFiber* fiber = static_cast<XMacFiber*>(CreateFiberEx(0, fStackSize, 1, &_ThreadProc, data));
    if (fiber == nullptr) {
        delete data;
        return false;
    }
    XMacTaskMgr* manager = GetManager();
    VTask* caller = manager->GetCurrentTask();
    VTask* home = nullptr;
    if (caller != nullptr && caller->GetPlatformTask() != nullptr)
        home = caller->GetPlatformTask()->GetHomeTask();
    if (home == nullptr)
        home = caller;
    fFiber = fiber;
    fHomeTask = home;
    SwitchToFiber(fiber);
    manager->SetCurrentTask(caller);
    return true;
}

void XMacTask_fiber::_ThreadProc(void* object)
{
    _FiberData* data = static_cast<_FiberData*>(object);
    VTask* task = data->fTask;
    XMacTask* platform = task->GetPlatformTask();
    platform->_Run();
}

void XMacTask_fiber::WakeUp()
{
    std::atomic_ref<int32_t>(fWakeCounter).fetch_add(1);
    VTaskMgr::YieldNow();
}

void XMacTask_fiber::Freeze()
{
    int32_t value = GetWakeCounter();
    VTaskMgr::CurrentFiberWaitFlag(&fWakeCounter, value);
}

void XMacTask_fiber::Sleep(int milliseconds)
{
    int32_t value = GetWakeCounter();
    VTaskMgr::CurrentFiberWaitFlagWithTimeout(&fWakeCounter, value, milliseconds);
}

void XMacTask_fiber::Exit(VTask* switchTo)
{
    delete static_cast<_FiberData*>(GetFiberData());
    if (XMacFiber* current = XMacFiber::GetCurrent())
        current->SetData(nullptr);
    fTask->_SetStateDead();
    // Back to the home task's fiber; this fiber's thread stays blocked until
    // its fiber is deleted.
    if (switchTo != nullptr && switchTo->GetPlatformTask() != nullptr)
        SwitchToFiber(switchTo->GetPlatformTask()->GetFiber());
}

}  // namespace qelt
