// The command-line parser on arbitrary arguments: the bytes, cut at each zero
// byte, are UTF-8 arguments after a program name, parsed against options of
// every bound type, flags, paragraphs and a rest option. The parse answers
// 0, 1 or 2, and the JSON export lists every argument.
#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <string>
#include <vector>

#include "fuzz/FuzzSupport.h"
#include "json/VJSONArray.h"
#include "json/VJSONValue.h"
#include "process/VCommandLineParser.h"

using namespace qelt;

namespace {

// Standard output and error go to /dev/null while an input is parsed.
class StSilentStreams {
public:
    StSilentStreams()
    {
        std::fflush(nullptr);
        fNull = ::open("/dev/null", O_WRONLY | O_CLOEXEC);
        fOut = ::dup(1);
        fErr = ::dup(2);
        if (fNull >= 0) {
            ::dup2(fNull, 1);
            ::dup2(fNull, 2);
        }
    }
    ~StSilentStreams()
    {
        std::fflush(nullptr);
        if (fOut >= 0) {
            ::dup2(fOut, 1);
            ::close(fOut);
        }
        if (fErr >= 0) {
            ::dup2(fErr, 2);
            ::close(fErr);
        }
        if (fNull >= 0)
            ::close(fNull);
    }

private:
    int fNull = -1;
    int fOut = -1;
    int fErr = -1;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    fuzz::Setup();
    fuzz::Scope scope;

    std::vector<VString> args{VString("prog")};
    size_t start = 0;
    for (size_t i = 0; i <= size; ++i) {
        if (i == size || data[i] == 0) {
            args.emplace_back(data + start, static_cast<unsigned long>(i - start), VTC_UTF_8);
            start = i + 1;
        }
    }

    bool flag = false, boolValue = false;
    int number = 0, countFlag = 0;
    VString text, textFlag;
    std::vector<VString> list, listFlag, rest;
    VCommandLineParser parser(args);
    parser.AddParagraph(VString("\nIntro\ttext that is long enough to be wrapped at eighty units when the help is shown\n"));
    parser.AddFlag('v', VString("verbose"), VString("a flag"), flag);
    parser.AddOption('b', VString("bool"), VString("a boolean value"), boolValue);
    parser.AddOption('n', VString("number"), VString("an integer value with a description longer than fifty units"),
                     number);
    parser.AddFlag('c', VString(""), VString("an integer flag"), countFlag);
    parser.AddOption(' ', VString("text"), VString("a text"), text);
    parser.AddFlag('t', VString("text-flag-with-a-long-name"), VString("a text flag"), textFlag);
    parser.AddOption('l', VString("list"), VString("a list"), list);
    parser.AddFlag(' ', VString("list-flag"), VString("a list flag"), listFlag);
    parser.AddParagraph(VString("Help:"));
    parser.AddRemainingArguments(rest);

    int result;
    {
        StSilentStreams silent;
        result = parser.Parse();
    }
    fuzz::Check(result == 0 || result == 1 || result == 2, "the parse answers 0, 1 or 2");

    VString json;
    parser.ExportAsJSON(&json);
    VJSONValue exported;
    fuzz::Check(exported.ParseFromString(json) == VE_OK, "the export is JSON text");
    VJSONValue arguments = exported.GetProperty(VString("arguments"));
    fuzz::Check(arguments.GetProperty(VString("count")).GetNumber() == static_cast<double>(args.size()),
                "the export counts every argument");
    VJSONValue values = arguments.GetProperty(VString("values"));
    fuzz::Check(values.IsArray() && values.GetArray()->GetCount() == args.size(), "the export lists every argument");

    VString page;
    parser.ExportAsManPage(&page);
    return 0;
}
