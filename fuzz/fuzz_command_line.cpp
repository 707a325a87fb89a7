// The command-line parser on arbitrary arguments: the bytes, cut at each zero
// byte, are UTF-8 arguments after a program name, parsed against options of
// every bound type, flags, paragraphs and a rest option. The parse answers
// 0, 1 or 2, and the JSON export lists every argument.
#include <string>
#include <vector>

#include "fuzz/FuzzSupport.h"
#include "json/VJSONArray.h"
#include "json/VJSONValue.h"
#include "process/VCommandLineParser.h"

using namespace qelt;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    fuzz::Setup();
    fuzz::Scope scope;

    const std::vector<VString> args = fuzz::MakeArguments("prog", data, size);

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
        fuzz::StSilentStreams silent;
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
