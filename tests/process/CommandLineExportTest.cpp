#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "process/VCommandLineParser.h"

namespace qelt {
namespace {

std::string Text(const VString& inText)
{
    std::string out;
    for (int i = 0; i < inText.GetLength(); ++i)
        out.push_back(static_cast<char>(inText.GetCPointer()[i]));
    return out;
}

TEST(CommandLineExport, ProgramNameAloneExportsOneArgumentAndNoOption)
{
    std::vector<VString> args{VString("prog")};
    VCommandLineParser parser(args);
    VString json("left over");
    parser.ExportAsJSON(&json);
    EXPECT_EQ(Text(json),
              "{\n\t\"arguments\": {\n\t\t\"count\": 1,\n\t\t\"values\": [\n\t\t\t\"prog\"\n\t\t]\n\t},\n"
              "\t\"options\": {\n\t\t\"count\": 0,\n\t\t\"values\": [\n\t\t]\n\t}\n}\n");
}

TEST(CommandLineExport, JSONListsEveryEntryEscapedAndHiddenOnesToo)
{
    std::vector<VString> args{VString("prog"), VString("a\"b")};
    VCommandLineParser parser(args);
    int pid = 0;
    bool quiet = false;
    std::vector<VString> rest;
    parser.AddParagraph(VString("Intro\n"));
    parser.AddOption('p', VString("pid"), VString("say \"pid\"\nnow"), pid);
    parser.AddFlag('q', VString(""), VString("quiet"), quiet)->SetHidden(true);
    parser.AddRemainingArguments(rest);
    VString json;
    parser.ExportAsJSON(&json);
    EXPECT_EQ(Text(json),
              "{\n\t\"arguments\": {\n\t\t\"count\": 2,\n\t\t\"values\": [\n\t\t\t\"prog\",\n\t\t\t\"a\\\"b\"\n\t\t]\n\t},\n"
              "\t\"options\": {\n\t\t\"count\": 3,\n\t\t\"values\": [\n"
              "\t\t\t{\n\t\t\t\t\"paragraph\": \"Intro\\n\"\n\t\t\t},\n"
              "\t\t\t{\n\t\t\t\t\"shortName\": \"p\",\n\t\t\t\t\"longName\": \"pid\",\n"
              "\t\t\t\t\"requiresValue\": true,\n\t\t\t\t\"description\": \"say \\\"pid\\\"\\nnow\"\n\t\t\t},\n"
              "\t\t\t{\n\t\t\t\t\"shortName\": \"q\",\n\t\t\t\t\"description\": \"quiet\"\n\t\t\t}\n"
              "\t\t]\n\t}\n}\n");
}

TEST(CommandLineExport, ManPageLeavesOutHiddenEntriesAndLeadingParagraphs)
{
    std::vector<VString> args{VString("prog"), VString("x")};
    VCommandLineParser parser(args);
    int pid = 0;
    bool quiet = false, verbose = false;
    VString name;
    parser.AddParagraph(VString("Before"));
    parser.AddOption(' ', VString("pid"), VString("say \"pid\"\n\tnow"), pid);
    parser.AddFlag('q', VString("quiet"), VString("quiet"), quiet)->SetHidden(true);
    parser.AddParagraph(VString("After\n"));
    parser.AddOption('n', VString(""), VString("name"), name);
    parser.AddFlag('v', VString("verbose"), VString("more"), verbose);
    VString page("HEAD\n");
    parser.ExportAsManPage(&page);
    const std::string section =
        ".SH OPTIONS\n"
        ".TP\n.BR \\-\\-pid=\\fIVALUE\\fR\nsay \"pid\"now\n"
        ".SS \"After\"\n"
        ".TP\n.BR \\-n \\fIVALUE\\fR\nname\n"
        ".TP\n.BR \\-v \", \" \\-\\-verbose\nmore\n";
    EXPECT_EQ(Text(page), "HEAD\n" + section);
    parser.ExportAsManPage(&page);
    EXPECT_EQ(Text(page), "HEAD\n" + section + section);
}

}  // namespace
}  // namespace qelt
