// The `open` tool that ships inside the updater's bundle:
//
//     open -a BUNDLE [--args ARG...]
//
// starts the application bundle's executable (Info.plist "CFBundleExecutable"
// in BUNDLE/Contents/MacOS) with the arguments that follow "--args", detached
// from the caller: in a session of its own, with its standard streams on
// /dev/null and no other descriptor inherited. It exits 0 once the
// application has started, and 1 with a message on standard error when it
// cannot start it.
#include <fcntl.h>
#include <spawn.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "platform/PlatBundle.h"

extern char** environ;

namespace {

int Fail(const std::string& inMessage)
{
    std::fprintf(stderr, "open: %s\n", inMessage.c_str());
    return 1;
}

int Usage()
{
    return Fail("usage: open -a BUNDLE [--args ARG...]");
}

}  // namespace

int main(int argc, char** argv)
{
    std::string bundle;
    std::vector<std::string> arguments;
    int i = 1;
    for (; i < argc; ++i) {
        if (std::strcmp(argv[i], "-a") == 0) {
            if (i + 1 >= argc)
                return Usage();
            bundle = argv[++i];
        } else if (std::strcmp(argv[i], "--args") == 0) {
            for (++i; i < argc; ++i)
                arguments.emplace_back(argv[i]);
        } else {
            return Usage();
        }
    }
    if (bundle.empty())
        return Usage();
    while (bundle.size() > 1 && bundle.back() == '/')
        bundle.pop_back();

    struct stat info;
    if (::stat(bundle.c_str(), &info) != 0 || !S_ISDIR(info.st_mode))
        return Fail("no application bundle at " + bundle);

    std::string executableName;
    if (!qelt::plat::GetBundleInfoValue(bundle, "CFBundleExecutable", executableName) || executableName.empty() ||
        executableName.find('/') != std::string::npos)
        return Fail("the bundle " + bundle + " names no executable (CFBundleExecutable)");
    std::string executable = bundle + "/Contents/MacOS/" + executableName;
    if (::access(executable.c_str(), X_OK) != 0)
        return Fail("cannot run " + executable + ": " + std::strerror(errno));

    std::vector<char*> childArgv;
    childArgv.push_back(executable.data());
    for (std::string& argument : arguments)
        childArgv.push_back(argument.data());
    childArgv.push_back(nullptr);

    // Detached: a new session, the standard streams on /dev/null, and every
    // other descriptor closed in the child.
    posix_spawn_file_actions_t actions;
    posix_spawnattr_t attributes;
    posix_spawn_file_actions_init(&actions);
    posix_spawnattr_init(&attributes);
    for (int fd = 0; fd <= 2; ++fd)
        posix_spawn_file_actions_addopen(&actions, fd, "/dev/null", fd == 0 ? O_RDONLY : O_WRONLY, 0);
    posix_spawn_file_actions_addclosefrom_np(&actions, 3);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSID);

    pid_t child = 0;
    int error = posix_spawn(&child, executable.c_str(), &actions, &attributes, childArgv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attributes);
    if (error != 0)
        return Fail("cannot start " + executable + ": " + std::strerror(error));
    return 0;
}
