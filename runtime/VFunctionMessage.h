// A message that runs a function on another task, with the static helpers
// that post a function to a task or to the main task, waiting or not.
#pragma once

#include <functional>

#include "runtime/VMessage.h"

namespace qelt {

class VTask;

class VFunctionMessage : public VMessage {
public:
    explicit VFunctionMessage(std::function<void()>&& function) : fFunction(std::move(function)) {}

    // Queues the function on the task (never runs it at once); dropped unrun
    // for a null task or one whose messaging is not usable.
    static void PostFunctionTo(VTask* task, std::function<void()>&& function);
    // Posts and waits, executing the caller's messages, without time limit;
    // on the task itself it runs at once.
    static void PostToAndWait(VTask* task, std::function<void()>&& function);
    // The same with a time limit; true when the function ran.
    static bool PostToAndWait(VTask* task, std::function<void()>&& function, int timeoutMs);
    static void PostToMainTask(std::function<void()>&& function, bool callNow);
    static void PostToMainTaskAndWait(std::function<void()>&& function, bool callNow);

    void DoExecute() override;

protected:
    ~VFunctionMessage() override = default;

private:
    std::function<void()> fFunction;
};

}  // namespace qelt
