#include "runtime/VFunctionMessage.h"

#include "runtime/VTask.h"
#include "runtime/VTaskMgr.h"

namespace qelt {

void VFunctionMessage::DoExecute()
{
    if (fFunction)
        fFunction();
}

void VFunctionMessage::PostFunctionTo(VTask* task, std::function<void()>&& function)
{
    if (task == nullptr)
        return;
    VRefPtr<VFunctionMessage> message = AdoptRef(new VFunctionMessage(std::move(function)));
    // No same-task shortcut: the function always runs from the loop.
    message->_Post(task->RetainMessagingContext(), false);
}

void VFunctionMessage::PostToAndWait(VTask* task, std::function<void()>&& function)
{
    if (task == nullptr)
        return;
    VRefPtr<VFunctionMessage> message = AdoptRef(new VFunctionMessage(std::move(function)));
    message->PostToAndWaitExecutingMessages(task);
}

bool VFunctionMessage::PostToAndWait(VTask* task, std::function<void()>&& function, int timeoutMs)
{
    if (task == nullptr)
        return false;
    VRefPtr<VFunctionMessage> message = AdoptRef(new VFunctionMessage(std::move(function)));
    return message->PostToAndWaitExecutingMessages(task, timeoutMs);
}

void VFunctionMessage::PostToMainTask(std::function<void()>&& function, bool callNow)
{
    if (callNow) {
        if (function)
            function();
        return;
    }
    if (VTaskMgr::sInstanceInited.load())
        PostFunctionTo(VTaskMgr::Get()->GetMainTask(), std::move(function));
}

void VFunctionMessage::PostToMainTaskAndWait(std::function<void()>&& function, bool callNow)
{
    if (callNow || VTask::IsCurrentMain()) {
        if (function)
            function();
        return;
    }
    if (VTaskMgr::sInstanceInited.load())
        PostToAndWait(VTaskMgr::Get()->GetMainTask(), std::move(function));
}

}  // namespace qelt
