// Child processes of the platform layer: starting one with pipes on its
// standard streams, talking to it through them, signalling it and its
// group, and looking at how it ended. The child-process launcher is built on
// these. They raise nothing and allocate nothing through the toolbox.
//
// Every descriptor made here is close-on-exec and numbered above the
// standard ones, so that a child receives only the ends given to it as 0, 1
// and 2, and moving them there never overwrites another end when this
// process runs with a standard stream closed. Writing to a pipe whose reader
// has gone fails with EPIPE and never ends this process with SIGPIPE.
#pragma once

#include <cstddef>

namespace qelt::plat {

// What StartChild starts.
struct ChildStart {
    const char* path = nullptr;          // the executable
    char* const* arguments = nullptr;    // null-terminated; the first names the program
    char* const* environment = nullptr;  // null-terminated "NAME=value" texts; null: this process's
    const char* folder = nullptr;        // the working folder; null or empty: this process's
    bool pipeInput = false;              // a pipe on the child's standard input
    bool pipeOutput = false;             // pipes on its standard output and error
};

// This process's side of a started child; -1 for an end that does not exist.
struct ChildHandles {
    int pid = 0;
    int pidFd = -1;   // a descriptor naming the child (-1 where the system has none)
    int input = -1;   // writes to the child's standard input (blocking)
    int output = -1;  // reads its standard output (non-blocking)
    int error = -1;   // reads its standard error (non-blocking)
};

// Starts the child in a process group of its own (whose id is the child's),
// with no signal blocked and no descriptor beyond 0, 1 and 2: the pipes
// asked for take those places, the others are this process's. 0 once the
// child runs; -1 when the pipes cannot be made or the start cannot be
// confirmed; otherwise the errno value of the start. Nothing stays open after
// a failure.
int StartChild(const ChildStart& inStart, ChildHandles& outHandles);

// What a look at a child found.
enum class ChildChange {
    Running,             // nothing new
    Exited,              // it exited (reaped): the exit code is given
    Signalled,           // a signal ended it (reaped)
    StoppedOrContinued,  // it was stopped or continued (not reaped); only when asked for
    Gone,                // there is no such child (or the look failed)
};

// Looks at a child without waiting. outExitCode is set for Exited (0 to 255)
// and left alone otherwise. With inStops a child stopped or continued since
// the last look is reported as such.
ChildChange LookAtChild(int inPid, bool inStops, int& outExitCode);

enum class ProcessSignal { Terminate, Quit, Kill };

// Sends the signal to a process, as the system does (0 names this
// process's own group): 0 or the errno value.
int SendSignal(int inPid, ProcessSignal inSignal);

// Sends SIGKILL to a child, through its pidfd when it has one (which names
// the child only, even after its id was given to another process).
void KillChild(int inPid, int inPidFd);

// Sends SIGKILL to every process of the group (nothing for an id of 0 or less).
void KillProcessGroup(int inGroup);

// Makes writes to the pipe end return at once when the pipe is full.
bool SetPipeNonBlocking(int inFd);

enum class PipeRead {
    Data,   // outCount bytes were read
    Empty,  // a non-blocking pipe holds nothing yet
    End,    // the pipe's end was met, or the read failed
};

// Reads what the pipe holds, going on after interruptions; a blocking pipe
// waits for data.
PipeRead ReadPipe(int inFd, void* outBuffer, size_t inSize, size_t& outCount);

// Writes to a pipe in one call, going on after interruptions: 0 with
// outCount the bytes taken, or the errno value (EAGAIN when a non-blocking
// pipe is full, EPIPE when the reader has gone).
int WritePipe(int inFd, const void* inData, size_t inSize, size_t& outCount);

// One descriptor (a pipe end or a child's pidfd) that WaitForDescriptors
// watches: to read (data, its end, an error) or to write (room).
struct DescriptorWatch {
    int fd = -1;
    bool writing = false;
    bool ready = false;  // set by the wait
};

// Waits until one of the descriptors (at most kMaxWatches) is ready, for at
// most inMilliseconds (-1: no limit). With inWakeOnChild a child's change of
// state (SIGCHLD) also ends the wait, even where this thread blocks that
// signal. The number of ready descriptors; 0 at the time-out; -1 when a
// signal interrupted the wait; -2 when the wait failed (or was given too
// many descriptors).
constexpr size_t kMaxWatches = 4;
int WaitForDescriptors(DescriptorWatch* ioWatches, size_t inCount, int inMilliseconds, bool inWakeOnChild = false);

}  // namespace qelt::plat
