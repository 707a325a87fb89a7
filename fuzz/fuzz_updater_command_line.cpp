// The updater's whole command line from outside: the bytes, cut at each
// zero byte, are its arguments, read through its own option table and path
// handling. The hook answers 0 (go on), 1 (refused) or 2 (version shown).
#include <vector>

#include "fuzz/FuzzSupport.h"
#include "process/VCommandLineParser.h"
#include "updater/VUpdateEngine.h"

using namespace qelt;

namespace {

// The updater's command-line hook, callable from here.
class FuzzedUpdater : public VUpdateEngine {
public:
    using VUpdateEngine::DoParseCommandLine;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    fuzz::Setup();
    fuzz::Scope scope;
    static FuzzedUpdater sUpdater;

    const std::vector<VString> args = fuzz::MakeArguments("Updater", data, size);
    VCommandLineParser parser(args);
    int result;
    {
        fuzz::StSilentStreams silent;
        result = sUpdater.DoParseCommandLine(parser);
    }
    fuzz::Check(result == 0 || result == 1 || result == 2, "the hook answers 0, 1 or 2");
    return 0;
}
