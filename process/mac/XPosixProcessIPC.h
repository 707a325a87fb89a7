// The signal side of the inter-process application object. The handlers of
// SIGTERM, SIGINT and SIGQUIT do only what a signal handler may: SIGINT's
// notice goes out with write(2), and the signal number goes into a
// non-blocking self-pipe. A thread of this object reads the pipe and asks
// the process to quit from ordinary code. The thread is stopped when the
// object is deleted, before the task manager ends; the handlers stay
// installed and do nothing once the process object is gone.
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
