// The signal side of the inter-process application object: the platform's
// quit signals (SIGTERM, SIGINT and SIGQUIT, whose handlers put the signal
// into a self-pipe and do nothing else a signal handler may not). A thread
// of this object reads them and asks the process to quit from ordinary
// code. The thread is stopped when the object is deleted, before the task
// manager ends; the handlers stay installed and do nothing once the process
// object is gone.
#pragma once

#include <thread>

#include "kernel/VObject.h"

namespace qelt {

class XPosixProcessIPC : public VObject {
public:
    XPosixProcessIPC() = default;
    ~XPosixProcessIPC() override;

    XPosixProcessIPC(const XPosixProcessIPC&) = delete;
    XPosixProcessIPC& operator=(const XPosixProcessIPC&) = delete;

    // Creates the pipe, starts the reading thread and installs the three
    // handlers; false when one cannot be installed (those installed before
    // it stay).
    bool Init();

private:
    void _ReadSignals();

    std::thread fReader;
};

}  // namespace qelt
