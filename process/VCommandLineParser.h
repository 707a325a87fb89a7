// The command-line parser: reads a process's arguments against options the
// application declares by short name ('-x') and long name ('--name'), each
// bound to a variable of the caller.
//
// Grammar: groups of short options ('-ab'); values after "=" (long options
// only) or taken, in order, from the following arguments that do not look
// like options ('-a -b x y' gives a = x and b = y); "--" ends the options;
// other arguments go to the rest option. "-h", "-?" and "--help" print the
// help listing when no option has those names. Errors are fixed English
// messages on standard error; Parse answers 0 (go on), 1 (error printed) or
// 2 (help printed).
//
// The parser keeps a reference to the caller's argument vector (program name
// first), which must outlive it. Options are registered only when there is
// at least one argument beyond the program name.
#pragma once

#include <cstddef>
#include <unordered_map>
#include <utility>
#include <vector>

#include "kernel/VObject.h"
#include "kernel/VString.h"
#include "process/VCommandLineOptions.h"

namespace qelt {

namespace Private::CommandLineParser {

// Hash of a long name: h = h * 65599 + unit over its UTF-16 units, in 64
// bits. Names are compared with the same exactness, unit by unit, so that a
// lookup never depends on which bucket a name lands in.
struct LongNameHash {
    size_t operator()(const VString& inName) const;
};
struct LongNameEqual {
    bool operator()(const VString& inA, const VString& inB) const { return inA.EqualToStringRaw(inB); }
};

// The option table of one parser; it owns every option object.
class StOptionsInfos {
public:
    using Entry = std::pair<VOptionBase*, bool>;  // option, value required

    StOptionsInfos() = default;
    ~StOptionsInfos();
    StOptionsInfos(const StOptionsInfos&) = delete;
    StOptionsInfos& operator=(const StOptionsInfos&) = delete;

    // Takes ownership; maps the option's names (replacing an earlier option
    // of the same name, which stays listed) and appends it to the list.
    void RegisterOption(bool inRequiresValue, VOptionBase* inOption);
    void AddParagraph(VOptionBase* inParagraph);
    // Installs the option that receives the rest arguments (taking
    // ownership), deleting the previous one.
    void SetRestOption(VOptionBase* inOption);
    // Deletes every option and empties the tables.
    void Clear();

    const Entry* FindShort(UniChar inName) const;
    const Entry* FindLong(const VString& inName) const;
    VOptionBase* GetRestOption() const { return fRestOption; }
    const std::vector<VOptionBase*>& GetEntries() const { return fEntries; }

    // Writes the help listing on standard output.
    void HelpUsage(const VString& inProgramName) const;

private:
    std::unordered_map<UniChar, Entry> fShortNames;
    std::unordered_map<VString, Entry, LongNameHash, LongNameEqual> fLongNames;
    VOptionBase* fRestOption = nullptr;
    std::vector<VOptionBase*> fEntries;
};

}  // namespace Private::CommandLineParser

class VCommandLineParser : public VObject {
public:
    explicit VCommandLineParser(const std::vector<VString>& inArguments);
    ~VCommandLineParser() override;

    VCommandLineParser(const VCommandLineParser&) = delete;
    VCommandLineParser& operator=(const VCommandLineParser&) = delete;

    // Declares an option that takes a value (AddOption) or none (AddFlag),
    // bound to ioVariable, which keeps its default unless the option is
    // given. inShortName ' ' means none. Answers the option (so that a
    // caller can hide it), or null when nothing was registered.
    template <class T>
    Private::CommandLineParser::VOptionBase* AddOption(UniChar inShortName, const VString& inLongName,
                                                       const VString& inDescription, T& ioVariable)
    {
        return _Register(true, inShortName, inLongName, inDescription, ioVariable);
    }
    template <class T>
    Private::CommandLineParser::VOptionBase* AddFlag(UniChar inShortName, const VString& inLongName,
                                                     const VString& inDescription, T& ioVariable)
    {
        return _Register(false, inShortName, inLongName, inDescription, ioVariable);
    }

    // Arguments that are neither options nor values are appended to ioRest.
    void AddRemainingArguments(std::vector<VString>& ioRest);

    // A paragraph of the help listing, in its place among the options.
    void AddParagraph(const VString& inText);

    // 0 go on, 1 an error was printed, 2 the help listing was printed.
    int Parse();

    // Drops every declaration; the arguments stay.
    void Clear();

    // While set, an option value that is exactly "-" is replaced by the whole
    // of standard input (read once per parse). Off by default.
    void SetReadValuesFromStandardInput(bool inRead) { fReadStandardInput = inRead; }

    const std::vector<VString>& GetArguments() const { return fArguments; }
    const Private::CommandLineParser::StOptionsInfos& GetOptionsInfos() const { return fInfos; }

    // The message in UTF-8 and a newline, flushed, on standard error;
    // answers 1 so that a caller can return it as its failure.
    static int PrintArgumentError(const VString& inMessage);
    // The same on standard output.
    static void Print(const VString& inMessage);

    // Offered to callers; registration applies neither.
    static bool ValidateLongOptionName(const VString& inName);
    static bool ValidateShortOptionName(UniChar inName);

    // The arguments and declarations as JSON text (the output is replaced).
    void ExportAsJSON(VString* outText) const;
    // The OPTIONS section of a manual page in troff markup, appended.
    void ExportAsManPage(VString* ioText) const;
    // The JSON export and a newline on standard error (true) or output.
    void PrintAllArguments(bool inToStandardError) const;

private:
    template <class T>
    Private::CommandLineParser::VOptionBase* _Register(bool inRequiresValue, UniChar inShortName,
                                                       const VString& inLongName, const VString& inDescription,
                                                       T& ioVariable)
    {
        if (!fHasArguments)
            return nullptr;
        auto* option = new Private::CommandLineParser::VArgOption<T>(inShortName, inLongName, inDescription,
                                                                     inRequiresValue, ioVariable);
        fInfos.RegisterOption(inRequiresValue, option);
        return option;
    }

    class ParseState;
    friend class ParseState;

    Private::CommandLineParser::StOptionsInfos fInfos;
    const std::vector<VString>& fArguments;
    bool fHasArguments;
    bool fParagraphs = true;
    bool fReadStandardInput = false;
};

}  // namespace qelt
