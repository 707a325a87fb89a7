#include "runtime/IIdleable.h"

#include "runtime/VTask.h"

namespace qelt {

IIdleable::IIdleable() : fToken(std::make_shared<VIdleToken>())
{
    fToken->idleable = this;
}

IIdleable::~IIdleable()
{
    // Waits for an idle call in progress on another thread, then no message
    // or idle pass reaches this object any more.
    {
        std::lock_guard<std::recursive_mutex> guard(fToken->lock);
        fToken->idleable = nullptr;
    }
    _StopIdling(true);
}

void IIdleable::StartIdling(VTask* task)
{
    if (task == nullptr)
        return;
    fIdling = true;
    if (fTask == task)
        return;
    VTask* previous = fTask;
    if (previous != nullptr)
        previous->UnregisterIdler(this);
    task->Retain();
    fTask = task;
    ReleaseRefCountable(previous);
    task->RegisterIdler(this);
}

void IIdleable::StartIdling() { StartIdling(VTask::GetCurrent()); }

void IIdleable::StopIdling() { _StopIdling(false); }

void IIdleable::_StopIdling(bool fromDestructor)
{
    if (fTask == nullptr)
        return;
    fIdling = false;
    // A destroyed idler leaves its task's list whatever thread destroys it.
    if (fromDestructor)
        fTask->_RemoveIdler(this);
    else
        fTask->UnregisterIdler(this);
    VTask* task = fTask;
    fTask = nullptr;
    task->Release();
}

void IIdleable::Idle()
{
    if (fIdling)
        DoIdle();
}

bool IIdleable::IsIdling() const { return fIdling; }

XIdleMessage::XIdleMessage(IIdleable* idleable) : fToken(idleable != nullptr ? idleable->_GetToken() : nullptr) {}

void XIdleMessage::DoExecute()
{
    if (fToken == nullptr)
        return;
    std::lock_guard<std::recursive_mutex> guard(fToken->lock);
    IIdleable* idleable = fToken->idleable;
    if (idleable == nullptr || !idleable->IsIdling())
        return;  // destroyed or stopped: the chain ends
    idleable->DoIdle();
    if (fToken->idleable == nullptr)
        return;
    VTask* current = VTask::GetCurrent();
    if (current == nullptr)
        return;
    VRefPtr<XIdleMessage> next = AdoptRef(new XIdleMessage(fToken->idleable));
    next->PostTo(current, false, 16);
}

}  // namespace qelt
