// The signals that ask the program to quit: SIGTERM, SIGINT and SIGQUIT.
// Their handlers do only what a signal handler may: SIGINT's notice goes to
// standard output with write(2), and the signal number goes into a
// non-blocking self-pipe, which one thread of the caller reads from ordinary
// code. The pipe is made once and kept for the life of the process, so that
// a handler never writes into a descriptor that was closed and reused.
#pragma once

namespace qelt::plat {

// Makes the pipe (once); false when it cannot be made.
bool OpenQuitSignalPipe();

// Installs the three handlers (SIGQUIT's is reset to the default once it
// has run). A handler acts only while inActive answers true; inActive runs
// inside the handler and must be async-signal-safe (a lock-free load).
// False when one cannot be installed (those installed before it stay).
bool InstallQuitSignalHandlers(bool (*inActive)());

// Blocks until a quit signal comes (true), or until StopQuitSignalWait is
// called or the pipe fails (false).
bool WaitForQuitSignal();

// Ends one wait of WaitForQuitSignal, now or when it begins.
void StopQuitSignalWait();

}  // namespace qelt::plat
