#include "runtime/mac/XMacTaskMgr.h"

#include <algorithm>
#include <atomic>
#include <string>

#include "kernel/VString.h"
#include "runtime/VProcessServices_runtime.h"
#include "platform/PlatThreads.h"
#include "runtime/VTaskMgr.h"
#include "runtime/mac/XMacFiber.h"
#include "runtime/mac/XMacTask.h"
#include "runtime/mac/XMacTask_fiber.h"
#include "platform/PlatUTF8.h"

namespace qelt {

constinit thread_local XMacThreadSlot XMacThreadSlot::sCurrent{};

namespace {
std::atomic<uint64_t> sLastGeneration{0};
}

XMacTaskMgr::XMacTaskMgr() : fGeneration(sLastGeneration.fetch_add(1) + 1)
{
    plat::CreateThreadKey(fCurrentTaskKey);
    plat::CreateThreadKey(fForeignIDKey);
}

XMacTaskMgr::~XMacTaskMgr()
{
    plat::DeleteThreadKey(fCurrentTaskKey);
    plat::DeleteThreadKey(fForeignIDKey);
}

bool XMacTaskMgr::Init(VProcess* process)
{
    // The process's fibers option is bit 0x2 of its start-up flags; a
    // process without it never makes a fiber.
    fFibersEnabled = process != nullptr && (GetProcessInitFlags(*process) & 0x2) != 0;
    if (fFibersEnabled) {
        _FiberData* data = new _FiberData(nullptr);
        if (ConvertThreadToFiber(data) == nullptr)
            delete data;
    }
    return true;
}

XMacTask* XMacTaskMgr::CreateMain(VTask* task)
{
    XMacTask* platform = new XMacTask_preemptive(task, true);
    if (fFibersEnabled) {
        XMacFiber* fiber = static_cast<XMacFiber*>(GetCurrentFiber());
        platform->SetFiber(fiber);
        platform->SetHomeTask(task);
        if (fiber != nullptr && fiber->GetData() != nullptr)
            static_cast<_FiberData*>(fiber->GetData())->SetTask(task);
    }
    SetCurrentTask(task);
    return platform;
}

XMacTask* XMacTaskMgr::Create(VTask* task, ETaskStyle style)
{
    if (style == eTaskStylePreemptive)
        return XMacTask_preemptive::Create(task);
    if (style == eTaskStyleFiber && fFibersEnabled)
        return new XMacTask_fiber(task);
    // Fiber tasks exist only while fibers are enabled; a process without the
    // fibers option gets no platform task for them.
    return nullptr;
}

void XMacTaskMgr::YieldToFiber(VTask* task)
{
    VTask* current = GetCurrentTask();
    if (task == nullptr || current == nullptr || current->GetPlatformTask() == nullptr || task->GetPlatformTask() == nullptr)
        return;
    XMacTask* mine = current->GetPlatformTask();
    XMacTask* theirs = task->GetPlatformTask();
    if (mine->GetHomeTask() == nullptr || mine->GetHomeTask() != theirs->GetHomeTask() || theirs->GetFiber() == nullptr)
        return;
    SwitchToFiber(theirs->GetFiber());
    SetCurrentTask(current);
}

size_t XMacTaskMgr::ComputeMainTaskStackSize() const
{
    return plat::CurrentThreadStackSize();
}

size_t XMacTaskMgr::GetCurrentFreeStackSize() const
{
    VTask* task = GetCurrentTask();
    if (task != nullptr && task->GetPlatformTask() != nullptr)
        return task->GetPlatformTask()->GetCurrentFreeStackSize();
    return plat::ProcessStackSoftLimit();
}

size_t XMacTaskMgr::GetCurrentFreeStackSizeStatic()
{
    return plat::ProcessStackSoftLimit();
}

void XMacTaskMgr::SetCurrentThreadName(const VString& name, int id) const
{
    // a lone surrogate becomes U+FFFD
    std::string utf8 = plat::UTF16ToUTF8(name.GetCPointer(), static_cast<size_t>(name.GetLength()), plat::UTF8Mode::kReplace);
    SetCurrentThreadNameUTF8(utf8.data(), utf8.size(), id);
}

void XMacTaskMgr::SetCurrentThreadNameUTF8(const char* name, size_t length, int id)
{
    // Renaming the process's first thread would rename the process itself.
    if (plat::IsProcessMainThread())
        return;
    std::string full(name != nullptr ? name : "", name != nullptr ? length : 0);
    full += " (id = " + std::to_string(id) + ")";
    plat::SetCurrentThreadName(full.data(), full.size());
}

void XMacTaskMgr::_RegisterThreadTask(XMacTask_preemptive* task)
{
    std::lock_guard<std::mutex> guard(fThreadsMutex);
    fThreadTasks.push_back(task);
}

void XMacTaskMgr::_UnregisterThreadTask(XMacTask_preemptive* task)
{
    std::lock_guard<std::mutex> guard(fThreadsMutex);
    auto it = std::find(fThreadTasks.begin(), fThreadTasks.end(), task);
    if (it != fThreadTasks.end())
        fThreadTasks.erase(it);
}

void XMacTaskMgr::_EndAllThreads()
{
    {
        std::lock_guard<std::mutex> guard(fThreadsMutex);
        for (XMacTask_preemptive* task : fThreadTasks)
            task->_ReleaseParkedThread();
    }
    while (fLiveThreads.load() > 0)
        plat::ThreadSleep(1);
}

}  // namespace qelt
