#include <gtest/gtest.h>

#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include <unistd.h>

#include "TestSupport.h"
#include "files/VFile.h"
#include "files/VFolder.h"
#include "files/VFilePath.h"
#include "json/VJSONValue.h"
#include "process/VCommandLineParser.h"

namespace qelt {
namespace {

using Extension::CommandLineParser::Argument;

std::string UTF8(const VString& inText)
{
    std::string out;
    for (int i = 0; i < inText.GetLength(); ++i)
        out.push_back(static_cast<char>(inText.GetCPointer()[i]));
    return out;
}

struct ParseRun {
    int result = -1;
    std::string out;
    std::string err;
};

// Parses "prog" followed by the arguments, with the declarations made by
// `declare`, capturing both standard streams.
ParseRun RunParse(const std::vector<std::string>& inArgs, const std::function<void(VCommandLineParser&)>& declare)
{
    std::vector<VString> args{VString("prog")};
    for (const std::string& arg : inArgs)
        args.emplace_back(arg.c_str());
    VCommandLineParser parser(args);
    declare(parser);
    ParseRun run;
    ::testing::internal::CaptureStdout();
    ::testing::internal::CaptureStderr();
    run.result = parser.Parse();
    run.err = ::testing::internal::GetCapturedStderr();
    run.out = ::testing::internal::GetCapturedStdout();
    return run;
}

// The declarations most cases use: value options -a and -b, flag -v, value
// option --name, flag --flag, and a rest option.
struct Declared {
    VString a, b, name;
    bool v = false, flag = false;
    std::vector<VString> rest;
    bool withRest = true;

    void operator()(VCommandLineParser& parser)
    {
        parser.AddOption('a', VString(""), VString("alpha"), a);
        parser.AddOption('b', VString(""), VString("beta"), b);
        parser.AddFlag('v', VString(""), VString("verbose"), v);
        parser.AddOption(' ', VString("name"), VString("a name"), name);
        parser.AddFlag(' ', VString("flag"), VString("a flag"), flag);
        if (withRest)
            parser.AddRemainingArguments(rest);
    }
};

TEST(CommandLineParser, ValuesFollowTheirOptionsInOrder)
{
    for (const auto& args : std::vector<std::vector<std::string>>{{"-a", "-b", "x", "y"}, {"-ab", "x", "y"}}) {
        Declared d;
        ParseRun run = RunParse(args, std::ref(d));
        EXPECT_EQ(run.result, 0) << args[0];
        EXPECT_EQ(UTF8(d.a), "x") << args[0];
        EXPECT_EQ(UTF8(d.b), "y") << args[0];
        EXPECT_TRUE(d.rest.empty());
    }
}

TEST(CommandLineParser, EndOfOptionsMakesTheNextArgumentAValueAndTheRestRestArguments)
{
    Declared d;
    ParseRun run = RunParse({"--name", "--", "-5", "-v", "--flag", "z"}, std::ref(d));
    EXPECT_EQ(run.result, 0) << run.err;
    EXPECT_EQ(UTF8(d.name), "-5");
    ASSERT_EQ(d.rest.size(), 3u);
    EXPECT_EQ(UTF8(d.rest[0]), "-v");
    EXPECT_EQ(UTF8(d.rest[2]), "z");
    EXPECT_FALSE(d.v);
    EXPECT_FALSE(d.flag);
}

TEST(CommandLineParser, OptionsBeforeAMarkerFoundByAValueSearchAreStillHandled)
{
    // -a finds its value after "--"; the flag -v that lay between them is
    // still an option.
    Declared d;
    ParseRun run = RunParse({"-a", "-v", "--", "x", "y"}, std::ref(d));
    EXPECT_EQ(run.result, 0) << run.err;
    EXPECT_EQ(UTF8(d.a), "x");
    EXPECT_TRUE(d.v);
    ASSERT_EQ(d.rest.size(), 1u);
    EXPECT_EQ(UTF8(d.rest[0]), "y");
}

TEST(CommandLineParser, ArgumentsGoToTheirPlaces)
{
    Declared d;
    ParseRun run = RunParse({"x", "", "--name=", "-ApplePersistenceIgnoreState", "YES", "-v", "--flag", "-a", ""},
                            std::ref(d));
    EXPECT_EQ(run.result, 0) << run.err;
    ASSERT_EQ(d.rest.size(), 2u);
    EXPECT_EQ(UTF8(d.rest[0]), "x");
    EXPECT_EQ(UTF8(d.rest[1]), "");
    EXPECT_TRUE(d.name.IsEmpty());
    EXPECT_TRUE(d.v);
    EXPECT_TRUE(d.flag);
    EXPECT_TRUE(d.a.IsEmpty());
    EXPECT_TRUE(run.out.empty());
}

TEST(CommandLineParser, ProgramNameAloneParsesToNothing)
{
    std::vector<VString> args{VString("prog")};
    VCommandLineParser parser(args);
    int pid = -1;
    EXPECT_EQ(parser.AddOption(' ', VString("pid"), VString("p"), pid), nullptr);
    ::testing::internal::CaptureStdout();
    EXPECT_EQ(parser.Parse(), 0);
    EXPECT_EQ(::testing::internal::GetCapturedStdout(), "");
    EXPECT_EQ(pid, -1);
}

TEST(CommandLineParser, ErrorsPrintTheirFixedMessageAndAnswerOne)
{
    struct Case {
        std::vector<std::string> args;
        bool withRest;
        std::string message;
    };
    const Case cases[] = {
        {{"-a", "-v"}, true, "error: missing value for option -a\n"},
        {{"--name"}, true, "error: missing value for option --name\n"},
        {{"x", "--name"}, true, "error: missing value for option --name\n"},
        {{"--foo"}, true, "error: unknown option `foo`\n"},
        {{"-z"}, true, "error: unknown option `z`\n"},
        {{"--help=1"}, true, "error: invalid value for option  `help`\n"},
        {{"--flag=1"}, true, "error: a value for option `flag` is not required\n"},
        {{"-"}, true, "error: missing short option `-`\n"},
        {{"--=x"}, true, "error: unknown option ``\n"},
        {{"--", "-x"}, false, "error: unknown option `-x`\n"},
        {{"x"}, false, "error: unknown option `x`\n"},
        // Long names are matched exactly, whatever bucket the name falls in.
        {{"--NAME", "x"}, true, "error: unknown option `NAME`\n"},
        {{"--Flag"}, true, "error: unknown option `Flag`\n"},
    };
    for (const Case& c : cases) {
        Declared d;
        d.withRest = c.withRest;
        ParseRun run = RunParse(c.args, std::ref(d));
        EXPECT_EQ(run.result, 1) << c.message;
        EXPECT_EQ(run.err, c.message);
        EXPECT_EQ(run.out, "");
    }
}

TEST(CommandLineParser, FirstErrorEndsTheParseAndKeepsWhatWasStored)
{
    Declared d;
    ParseRun run = RunParse({"-v", "--foo", "--flag"}, std::ref(d));
    EXPECT_EQ(run.result, 1);
    EXPECT_TRUE(d.v);
    EXPECT_FALSE(d.flag);
}

TEST(CommandLineParser, HelpOptionsPrintTheListingAndAnswerTwo)
{
    for (const auto& args : std::vector<std::vector<std::string>>{{"-h"}, {"-?"}, {"--help"}, {"-vh", "-z"}}) {
        Declared d;
        ParseRun run = RunParse(args, std::ref(d));
        EXPECT_EQ(run.result, 2) << args[0];
        EXPECT_EQ(run.out.rfind("Usage: prog [OPTION]... [FILE]...\n", 0), 0u) << run.out;
        EXPECT_EQ(run.err, "");
        EXPECT_EQ(d.v, args[0] == "-vh");
    }
}

TEST(CommandLineParser, ALaterOptionOfTheSameNameReceivesTheValueAndBothAreListed)
{
    VString first, second;
    auto declare = [&](VCommandLineParser& parser) {
        parser.AddOption(' ', VString("name"), VString("first"), first);
        parser.AddOption(' ', VString("name"), VString("second"), second);
    };
    EXPECT_EQ(RunParse({"--name", "x"}, declare).result, 0);
    EXPECT_TRUE(first.IsEmpty());
    EXPECT_EQ(UTF8(second), "x");
    ParseRun help = RunParse({"-h"}, declare);
    EXPECT_NE(help.out.find("first"), std::string::npos);
    EXPECT_NE(help.out.find("second"), std::string::npos);
}

TEST(CommandLineParser, HelpListingLaysOutOptionsInColumns)
{
    int pid = -1;
    auto declare = [&](VCommandLineParser& parser) {
        parser.AddOption(' ', VString("pid"), VString("Wait for the caller's pid"), pid);
    };
    ParseRun run = RunParse({"--help"}, declare);
    // Standard output is a file here: no escape sequences.
    EXPECT_EQ(run.out,
              "Usage: prog [OPTION]...\n"
              "\n"
              "      --pid=VALUE            Wait for the caller's pid\n"
              "  -h, --help                 Display the help and exit\n");
}

TEST(CommandLineParser, HelpListingWrapsLongTexts)
{
    bool flag = false, other = false;
    int count = 0;
    std::vector<VString> rest;
    auto declare = [&](VCommandLineParser& parser) {
        parser.AddParagraph(VString("\nIntro\ttext\n"));
        parser.AddFlag('x', VString("a-very-long-option-name"), VString("short\nsecond line"), flag);
        parser.AddOption('c', VString(""), VString("This description is longer than fifty units, so it wraps."),
                         count);
        parser.AddFlag('h', VString(""), VString("not the help"), other);
        parser.AddRemainingArguments(rest);
    };
    ParseRun run = RunParse({"--help"}, declare);
    const std::string indent(29, ' ');
    EXPECT_EQ(run.out,
              "Usage: prog [OPTION]... [FILE]...\n"
              "\nIntrotext\n\n"
              "  -x, --a-very-long-option-name\n" +
                  indent + "short\nsecond line\n" +
                  "  -c VALUE              This description is longer than fifty units, so\n" + indent +
                  "it wraps.\n" + "  -h                    not the help\n" + "      --help                 Display the help and exit\n");
    EXPECT_TRUE(flag == false && other == false);
}

TEST(CommandLineParser, LongParagraphsWrapAtEightyUnits)
{
    std::string text;
    for (int i = 0; i < 20; ++i)
        text += "word ";
    auto declare = [&](VCommandLineParser& parser) { parser.AddParagraph(VString(("\n" + text).c_str())); };
    ParseRun run = RunParse({"-h"}, declare);
    // The paragraph begins with an empty line, and no line is longer than 80.
    EXPECT_EQ(run.out.rfind("Usage: prog [OPTION]...\n\nword word", 0), 0u) << run.out;
    size_t start = 0;
    for (size_t end; (end = run.out.find('\n', start)) != std::string::npos; start = end + 1)
        EXPECT_LE(end - start, 80u);
}

TEST(CommandLineParser, NameValidationFollowsTheNamingRules)
{
    EXPECT_TRUE(VCommandLineParser::ValidateLongOptionName(VString("")));
    EXPECT_TRUE(VCommandLineParser::ValidateLongOptionName(VString("log-dir2")));
    EXPECT_FALSE(VCommandLineParser::ValidateLongOptionName(VString("x")));
    EXPECT_FALSE(VCommandLineParser::ValidateLongOptionName(VString("-ab")));
    EXPECT_FALSE(VCommandLineParser::ValidateLongOptionName(VString("ab-")));
    EXPECT_FALSE(VCommandLineParser::ValidateLongOptionName(VString("Ab")));
    EXPECT_TRUE(VCommandLineParser::ValidateShortOptionName(' '));
    EXPECT_TRUE(VCommandLineParser::ValidateShortOptionName('Z'));
    EXPECT_FALSE(VCommandLineParser::ValidateShortOptionName('-'));
}

TEST(CommandLineParser, DashValuesReadStandardInputOnceWhenAsked)
{
    std::string path = test::MakeTempFolder("stdin") + "/input.txt";
    FILE* file = std::fopen(path.c_str(), "w");
    ASSERT_NE(file, nullptr);
    std::fputs("from stdin\n", file);
    std::fclose(file);
    ASSERT_NE(std::freopen(path.c_str(), "r", stdin), nullptr);

    // A value never starts with '-' unless it follows "--" or "=".
    std::vector<VString> args{VString("prog"), VString("--name=-"), VString("-a"), VString("--"), VString("-")};
    VString a, name;
    VCommandLineParser parser(args);
    parser.AddOption('a', VString(""), VString(""), a);
    parser.AddOption(' ', VString("name"), VString(""), name);
    parser.SetReadValuesFromStandardInput(true);
    EXPECT_EQ(parser.Parse(), 0);
    EXPECT_EQ(UTF8(a), "from stdin\n");
    EXPECT_EQ(UTF8(name), "from stdin\n");
}

// ---------------------------------------------------------------------------
// Conversions

TEST(CommandLineConversions, IntegersAcceptTrimmedDecimalOrOctalText)
{
    std::vector<VString> none;
    VCommandLineParser parser(none);
    const std::string digits31(31, '1');
    struct Case {
        const char* text;
        bool ok;
        int value;
    } cases[] = {
        {" 42 ", true, 42},      {"\t-7\n", true, -7},      {"+7", true, 7},          {"010", true, 8},
        {"09", false, 0},        {"0x10", false, 0},        {"", false, 0},           {"   ", false, 0},
        {"1 2", false, 0},       {"5-3", false, 0},         {"-", false, 0},          {"+-5", false, 0},
        {"2147483647", true, 2147483647},                   {"-2147483648", true, INT32_MIN},
        // Beyond 32 bits: refused rather than cut to another number.
        {"2147483648", false, 0}, {"4294967297", false, 0}, {digits31.c_str(), false, 0},
        {"99999999999999999999", false, 0},
    };
    for (const Case& c : cases) {
        int value = 12345;
        bool ok = Argument<int>::Append(parser, value, VString(c.text));
        EXPECT_EQ(ok, c.ok) << "'" << c.text << "'";
        EXPECT_EQ(value, c.ok ? c.value : 12345) << "'" << c.text << "'";
    }

    unsigned int u = 0;
    EXPECT_TRUE(Argument<unsigned int>::Append(parser, u, VString("-1")));
    EXPECT_EQ(u, 0xFFFFFFFFu);
    EXPECT_TRUE(Argument<unsigned int>::Append(parser, u, VString("4294967295")));
    EXPECT_FALSE(Argument<unsigned int>::Append(parser, u, VString("4294967296")));
    long long ll = 0;
    EXPECT_TRUE(Argument<long long>::Append(parser, ll, VString("-9223372036854775808")));
    EXPECT_EQ(ll, INT64_MIN);
    EXPECT_FALSE(Argument<long long>::Append(parser, ll, VString("9223372036854775808")));
    unsigned long long ull = 0;
    EXPECT_TRUE(Argument<unsigned long long>::Append(parser, ull, VString("18446744073709551615")));
    EXPECT_EQ(ull, UINT64_MAX);
}

TEST(CommandLineConversions, BooleansAcceptDigitsAndWordsInAnyCase)
{
    std::vector<VString> none;
    VCommandLineParser parser(none);
    struct Case {
        const char* text;
        bool ok;
        bool value;
    } cases[] = {{"1", true, true},     {"TRUE", true, true},  {"true", true, true}, {"0", true, false},
                 {"False", true, false}, {"yes", false, false}, {"", false, false},   {"01", false, false}};
    for (const Case& c : cases) {
        bool value = !c.value;
        EXPECT_EQ(Argument<bool>::Append(parser, value, VString(c.text)), c.ok) << c.text;
        if (c.ok) {
            EXPECT_EQ(value, c.value) << c.text;
        }
    }
}

TEST(CommandLineConversions, RejectedValuesArePrintedInOneForm)
{
    const std::string hundred(100, 'x');
    struct Case {
        std::string arg;
        std::string message;
    } cases[] = {
        {"--bool=yes", "invalid value for argument '--bool' got \"yes\" expected 0, 1, true or false\n"},
        {"--int=", "invalid value for argument '-i, --int' got empty value expected a signed integral\n"},
        {"--int=" + hundred,
         "invalid value for argument '-i, --int' got \"" + hundred.substr(0, 80) + "...\" expected a signed integral\n"},
    };
    for (const Case& c : cases) {
        bool b = false;
        int i = 0;
        auto declare = [&](VCommandLineParser& parser) {
            parser.AddOption(' ', VString("bool"), VString(""), b);
            parser.AddOption('i', VString("int"), VString(""), i);
        };
        ParseRun run = RunParse({c.arg}, declare);
        EXPECT_EQ(run.result, 1);
        EXPECT_EQ(run.err, c.message);
    }

    int unused = 0;
    Private::CommandLineParser::VArgOption<int> anonymous(' ', VString(""), VString(""), true, unused);
    ::testing::internal::CaptureStderr();
    anonymous.PrintErrorWhenAppendingInvalidValue(VString("why"), VString("v"));
    EXPECT_EQ(::testing::internal::GetCapturedStderr(), "invalid value for argument '<anonymous>' got \"v\" why\n");
}

TEST(CommandLineConversions, FlagsOnTextAndListOptionsStoreTheirMark)
{
    VString text;
    std::vector<VString> list{VString("a"), VString("b")};
    std::vector<VString> empty;
    int number = 0;
    auto declare = [&](VCommandLineParser& parser) {
        parser.AddFlag('t', VString(""), VString(""), text);
        parser.AddFlag('l', VString(""), VString(""), list);
        parser.AddFlag('e', VString(""), VString(""), empty);
        parser.AddFlag('n', VString(""), VString(""), number);
    };
    EXPECT_EQ(RunParse({"-tlen"}, declare).result, 0);
    EXPECT_EQ(UTF8(text), "1");
    ASSERT_EQ(list.size(), 1u);
    EXPECT_TRUE(list[0].IsEmpty());
    EXPECT_EQ(empty.size(), 1u);
    EXPECT_EQ(number, 1);
}

}  // namespace
}  // namespace qelt

namespace qelt {
namespace {

TEST(CommandLineConversions, PathsResolveAgainstTheFileSystem)
{
    std::string folder = test::MakeTempFolder("paths");
    std::string file = folder + "/file.txt";
    std::FILE* out = std::fopen(file.c_str(), "w");
    ASSERT_NE(out, nullptr);
    std::fclose(out);
    ASSERT_EQ(::symlink(file.c_str(), (folder + "/link").c_str()), 0);
    ASSERT_EQ(::symlink((folder + "/gone").c_str(), (folder + "/broken").c_str()), 0);

    VFilePath path;
    EXPECT_TRUE(Argument<VFilePath>::Append(path, VString((folder + "/./sub/../").c_str())));
    EXPECT_EQ(UTF8(path.GetPath(FPS_POSIX)), folder + "/") << "a folder ends with '/'";
    EXPECT_TRUE(Argument<VFilePath>::Append(path, VString((folder + "/missing").c_str())));
    EXPECT_EQ(UTF8(path.GetPath(FPS_POSIX)), folder + "/missing");
    EXPECT_TRUE(Argument<VFilePath>::Append(path, VString("")));
    EXPECT_FALSE(path.IsValid());

    VRefPtr<VFile> target;
    EXPECT_TRUE(Argument<VRefPtr<VFile>>::Append(target, VString((folder + "/link").c_str())));
    ASSERT_TRUE(target);
    EXPECT_EQ(UTF8(target->GetPath().GetPath(FPS_POSIX)), file);
    for (const std::string& bad : {folder + "/broken", folder, folder + "/missing", std::string()}) {
        EXPECT_FALSE(Argument<VRefPtr<VFile>>::Append(target, VString(bad.c_str()))) << bad;
        EXPECT_FALSE(target) << bad;
    }

    // A folder argument needs a text that resolves to an existing folder.
    VRefPtr<VFolder> place;
    EXPECT_TRUE(Argument<VRefPtr<VFolder>>::Append(place, VString((folder + "/./").c_str())));
    ASSERT_TRUE(place);
    EXPECT_EQ(UTF8(place->GetPath().GetPath(FPS_POSIX)), folder + "/");
    for (const std::string& bad : {file, folder + "/missing/", std::string()}) {
        EXPECT_FALSE(Argument<VRefPtr<VFolder>>::Append(place, VString(bad.c_str()))) << bad;
        EXPECT_FALSE(place) << bad;
    }
}

}  // namespace
}  // namespace qelt

namespace qelt {
namespace {

TEST(CommandLineConversions, JSONValuesConvertByTheirCurrentType)
{
    std::vector<VString> none;
    VCommandLineParser parser(none);
    struct Case {
        JSONType type;
        const char* text;
        bool ok;
        JSONType after;
    } cases[] = {
        {JSON_string, "{not json", true, JSON_string},
        {JSON_undefined, "{\"a\": [1, 2]}", true, JSON_object},
        {JSON_object, "[true]", true, JSON_array},
        {JSON_undefined, "{\"a\": ", false, JSON_undefined},
        {JSON_false, "On", true, JSON_true},
        {JSON_true, "off", true, JSON_false},
        {JSON_true, "yes", false, JSON_true},
        {JSON_number, "3", false, JSON_number},
        {JSON_null, "null", false, JSON_null},
    };
    for (const Case& c : cases) {
        VJSONValue value(c.type);
        EXPECT_EQ(Argument<VJSONValue>::Append(parser, value, VString(c.text)), c.ok) << c.text;
        if (c.ok) {
            EXPECT_EQ(value.GetType(), c.after) << c.text;
        }
    }
    VJSONValue text(JSON_string);
    Argument<VJSONValue>::Append(parser, text, VString("{not json"));
    VString read;
    text.GetString(read);
    EXPECT_EQ(UTF8(read), "{not json");
}

}  // namespace
}  // namespace qelt
