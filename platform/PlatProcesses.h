// The process list and child processes of the platform layer, read from
// /proc. A process that has exited but has not been reaped (a zombie) is
// gone for every caller: it is neither listed nor named.
#pragma once

#include <string>
#include <vector>

namespace qelt::plat {

// Appends the id of every live process of the system, in /proc order.
// False, with nothing appended, when /proc cannot be read.
bool ListProcesses(std::vector<int>& ioPids);

// The short command name of a live process; false when there is none.
bool ProcessName(int pid, std::string& outName);

// The path of a live process's executable (or, when the link cannot be read,
// its first argument); false when there is none.
bool ProcessExecutablePath(int pid, std::string& outPath);

// The text of /proc/<pid>/stat: the command name (between the first '(' and
// the last ')') and the state letter after it; false when malformed.
bool ParseProcessStat(const std::string& text, std::string* outName, char& outState);

// The text of /proc/<pid>/cmdline (arguments ended by zero bytes): its first
// argument; false when that is empty.
bool FirstCommandLineArgument(const std::string& args, std::string& outFirst);

// Sends SIGKILL; false for an id of 0 or less and when the signal was not sent.
bool KillProcess(int pid);

// The id of this process.
int CurrentProcessID();

// True when a process with that id exists, also one this process may not
// signal; false for an id of 0 or less.
bool ProcessExists(int pid);

enum class ChildWait { Ended, Running, NoChild, Failed };

// Waits for a child process to end (block) or only looks (not block); a
// child that has ended is reaped.
ChildWait WaitForChild(int pid, bool block);

// Puts the process's standard input, output and error on /dev/null, for a
// process whose caller has stopped reading them. The three descriptors stay
// taken, so that no file opened later is mistaken for a standard stream.
// False when /dev/null cannot be opened (the streams are then unchanged).
bool DetachStandardStreams();

}  // namespace qelt::plat
