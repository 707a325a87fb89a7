// The updater's entry point: the arguments go where the process object's
// command-line start-up finds them.
#include "process/VProcessIPC.h"
#include "updater/VUpdateEngine.h"

int main(int argc, char** argv)
{
    qelt::sProcessCommandLineArgc = argc;
    qelt::sProcessCommandLineArgv = argv;
    return _main();
}
