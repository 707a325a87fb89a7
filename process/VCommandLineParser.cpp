#include "process/VCommandLineParser.h"

#include <climits>
#include <cstdio>

#include "kernel/StStringConverter.h"

namespace qelt {

using Private::CommandLineParser::StOptionsInfos;
using Private::CommandLineParser::VOptionBase;

namespace {

bool StartsWithDash(const VString& inText) { return !inText.IsEmpty() && inText.GetCPointer()[0] == '-'; }

// The units of inText from the 0-based inStart to the 0-based inEnd.
VString Units(const VString& inText, int inStart, int inEnd)
{
    VString result;
    if (inEnd > inStart)
        result.FromUniString(inText.GetCPointer() + inStart, inEnd - inStart);
    else
        result.FromCString("");
    return result;
}

// An error message: fixed text, inserted name, closing text.
int PrintError(const char* inText, const VString& inName, const char* inClosing)
{
    VString message(inText);
    message.AppendString(inName);
    message.AppendCString(inClosing);
    return VCommandLineParser::PrintArgumentError(message);
}

void WriteUTF8Line(const VString& inMessage, FILE* inStream)
{
    StStringConverter<char> utf8(inMessage, VTC_UTF_8);
    if (!utf8.IsOK())
        return;
    std::fwrite(utf8.GetCPointer(), 1, utf8.GetSize(), inStream);
    std::fputc('\n', inStream);
    std::fflush(inStream);
}

}  // namespace

namespace Private::CommandLineParser {

size_t LongNameHash::operator()(const VString& inName) const
{
    uint64_t hash = 0;
    const UniChar* units = inName.GetCPointer();
    for (int i = 0; i < inName.GetLength(); ++i)
        hash = hash * 65599u + units[i];
    return static_cast<size_t>(hash);
}

StOptionsInfos::~StOptionsInfos() { Clear(); }

void StOptionsInfos::RegisterOption(bool inRequiresValue, VOptionBase* inOption)
{
    if (inOption->HasShortName())
        fShortNames[inOption->GetShortName()] = Entry(inOption, inRequiresValue);
    if (inOption->HasLongName())
        fLongNames[inOption->GetLongName()] = Entry(inOption, inRequiresValue);
    fEntries.push_back(inOption);
}

void StOptionsInfos::AddParagraph(VOptionBase* inParagraph) { fEntries.push_back(inParagraph); }

void StOptionsInfos::SetRestOption(VOptionBase* inOption)
{
    delete fRestOption;
    fRestOption = inOption;
}

void StOptionsInfos::Clear()
{
    for (VOptionBase* entry : fEntries)
        delete entry;
    fEntries.clear();
    delete fRestOption;
    fRestOption = nullptr;
    fShortNames.clear();
    fLongNames.clear();
}

const StOptionsInfos::Entry* StOptionsInfos::FindShort(UniChar inName) const
{
    auto found = fShortNames.find(inName);
    return found == fShortNames.end() ? nullptr : &found->second;
}

const StOptionsInfos::Entry* StOptionsInfos::FindLong(const VString& inName) const
{
    auto found = fLongNames.find(inName);
    return found == fLongNames.end() ? nullptr : &found->second;
}

}  // namespace Private::CommandLineParser

// ---------------------------------------------------------------------------
// One call of Parse: the value cursor, the end-of-options marker and the
// standard-input cache.

class VCommandLineParser::ParseState {
public:
    explicit ParseState(VCommandLineParser& inParser)
        : fParser(inParser), fArgs(inParser.fArguments), fCount(static_cast<int>(inParser.fArguments.size()))
    {
    }

    int Run();

private:
    // Arguments after the first "--" are never options; the marker counts
    // from its own position, so that options before it are handled as
    // options even when a value search found the marker first.
    bool _AfterEndOfOptions(int inIndex) const { return inIndex > fEndOfOptions; }
    void _MarkEndOfOptions(int inIndex)
    {
        if (inIndex < fEndOfOptions)
            fEndOfOptions = inIndex;
    }

    int _LongOption(int inIndex);
    int _ShortOptions(int inIndex);
    int _RestArgument(int inIndex);
    // The value of an option that needs one; prints the missing-value error
    // and answers 1 when none is left.
    int _TakeValue(const VOptionBase& inOption, VString& outValue);
    bool _NextValue(VString& outValue);
    bool _StandardInput(VString& ioValue, const VString& inNameForMessages);
    int _Append(VOptionBase& inOption, const VString& inValue, const VString& inNameForMessages);

    VCommandLineParser& fParser;
    const std::vector<VString>& fArgs;
    int fCount;
    int fValueCursor = 1;
    int fEndOfOptions = INT_MAX;
    bool fStandardInputRead = false;
    VString fStandardInput;
};

int VCommandLineParser::ParseState::Run()
{
    for (int k = 1; k < fCount; ++k) {
        const VString& arg = fArgs[static_cast<size_t>(k)];
        int result = 0;
        if (k == fEndOfOptions)
            continue;  // the "--" found while looking for a value
        if (!_AfterEndOfOptions(k) && StartsWithDash(arg)) {
            if (arg.GetLength() >= 2 && arg.GetCPointer()[1] == '-') {
                if (arg.GetLength() == 2) {
                    _MarkEndOfOptions(k);
                    continue;
                }
                result = _LongOption(k);
            } else {
                result = _ShortOptions(k);
            }
        } else {
            result = _RestArgument(k);
        }
        if (result != 0)
            return result;
    }
    return 0;
}

int VCommandLineParser::ParseState::_LongOption(int k)
{
    const VString& arg = fArgs[static_cast<size_t>(k)];
    if (k >= fValueCursor)
        fValueCursor = k + 1;
    VString name = Units(arg, 2, arg.GetLength());
    const StOptionsInfos& infos = fParser.fInfos;

    int equal = name.FindUniChar('=');
    if (equal > 0) {
        VString key = Units(name, 0, equal - 1);
        VString value = Units(name, equal, name.GetLength());
        const StOptionsInfos::Entry* entry = infos.FindLong(key);
        if (entry == nullptr) {
            if (key.EqualToUSASCIICString("help"))
                return PrintError("error: invalid value for option  `", key, "`");
            return PrintError("error: unknown option `", key, "`");
        }
        if (!entry->second)
            return PrintError("error: a value for option `", key, "` is not required");
        return _Append(*entry->first, value, name);
    }

    const StOptionsInfos::Entry* entry = infos.FindLong(name);
    if (entry == nullptr) {
        if (name.EqualToUSASCIICString("help")) {
            infos.HelpUsage(fArgs[0]);
            return 2;
        }
        return PrintError("error: unknown option `", name, "`");
    }
    if (!entry->second) {
        entry->first->SetFlag();
        return 0;
    }
    VString value;
    int result = _TakeValue(*entry->first, value);
    if (result != 0)
        return result;
    return _Append(*entry->first, value, name);
}

int VCommandLineParser::ParseState::_ShortOptions(int k)
{
    const VString& arg = fArgs[static_cast<size_t>(k)];
    if (k >= fValueCursor)
        fValueCursor = k + 1;
    // Settings that the system adds to an application's arguments: skipped
    // with their value.
    if (arg.EqualToUSASCIICString("-ApplePersistenceIgnoreState") ||
        arg.EqualToUSASCIICString("-NSDocumentRevisionsDebugMode")) {
        VString ignored;
        _NextValue(ignored);
        return 0;
    }
    if (arg.GetLength() == 1)
        return PrintError("error: missing short option `", arg, "`");

    const StOptionsInfos& infos = fParser.fInfos;
    for (int i = 1; i < arg.GetLength(); ++i) {
        UniChar unit = arg.GetCPointer()[i];
        VString unitName(unit);
        const StOptionsInfos::Entry* entry = infos.FindShort(unit);
        if (entry == nullptr) {
            if (unit == '?' || unit == 'h') {
                infos.HelpUsage(fArgs[0]);
                return 2;
            }
            return PrintError("error: unknown option `", unitName, "`");
        }
        if (!entry->second) {
            entry->first->SetFlag();
            continue;
        }
        VString value;
        int result = _TakeValue(*entry->first, value);
        if (result == 0)
            result = _Append(*entry->first, value, unitName);
        if (result != 0)
            return result;
    }
    return 0;
}

int VCommandLineParser::ParseState::_RestArgument(int k)
{
    if (k < fValueCursor)
        return 0;  // already taken as an option's value
    const VString& arg = fArgs[static_cast<size_t>(k)];
    VOptionBase* rest = fParser.fInfos.GetRestOption();
    if (rest == nullptr)
        return PrintError("error: unknown option `", arg, "`");
    return _Append(*rest, arg, VString(""));
}

int VCommandLineParser::ParseState::_TakeValue(const VOptionBase& inOption, VString& outValue)
{
    if (_NextValue(outValue))
        return 0;
    VString message("error: missing value for option ");
    inOption.AppendFullName(message);
    return VCommandLineParser::PrintArgumentError(message);
}

bool VCommandLineParser::ParseState::_NextValue(VString& outValue)
{
    if (fValueCursor >= fCount)
        return false;
    auto looksLikeOption = [this](int index) {
        return !_AfterEndOfOptions(index) && StartsWithDash(fArgs[static_cast<size_t>(index)]);
    };
    // Arguments that look like options are passed over (the main loop
    // handles them); a "--" among them ends the options, so that the next
    // argument is the value whatever it holds.
    while (looksLikeOption(fValueCursor)) {
        if (fArgs[static_cast<size_t>(fValueCursor)].EqualToUSASCIICString("--"))
            _MarkEndOfOptions(fValueCursor);
        ++fValueCursor;
        if (fValueCursor >= fCount) {
            fValueCursor = fCount;
            return false;
        }
    }
    outValue = fArgs[static_cast<size_t>(fValueCursor)];
    ++fValueCursor;
    return true;
}

bool VCommandLineParser::ParseState::_StandardInput(VString& ioValue, const VString& inNameForMessages)
{
    if (!fParser.fReadStandardInput || !ioValue.EqualToUSASCIICString("-"))
        return true;
    if (!fStandardInputRead) {
        fStandardInputRead = true;
        fStandardInput.FromCString("");
        ioValue.FromCString("");
        std::vector<char> bytes;
        char block[1024];
        bool failed = (stdin == nullptr);
        while (!failed) {
            size_t n = std::fread(block, 1, sizeof(block), stdin);
            bytes.insert(bytes.end(), block, block + n);
            if (n < sizeof(block)) {
                failed = std::ferror(stdin) != 0;
                break;
            }
        }
        if (failed) {
            PrintError("error: failed to read from stdin for option `", inNameForMessages, "`");
            return false;
        }
        fStandardInput.FromBlock(bytes.data(), bytes.size(), VTC_UTF_8);
    }
    ioValue = fStandardInput;
    return true;
}

int VCommandLineParser::ParseState::_Append(VOptionBase& inOption, const VString& inValue,
                                            const VString& inNameForMessages)
{
    VString value(inValue);
    if (!_StandardInput(value, inNameForMessages))
        return 1;
    return inOption.AppendArgument(fParser, value) == 0 ? 0 : 1;
}

// ---------------------------------------------------------------------------

VCommandLineParser::VCommandLineParser(const std::vector<VString>& inArguments)
    : fArguments(inArguments), fHasArguments(inArguments.size() >= 2)
{
}

VCommandLineParser::~VCommandLineParser() = default;

void VCommandLineParser::AddRemainingArguments(std::vector<VString>& ioRest)
{
    if (!fHasArguments)
        return;
    fInfos.SetRestOption(new Private::CommandLineParser::VArgOption<std::vector<VString>>(' ', VString(""), VString(""),
                                                                                          false, ioRest));
}

void VCommandLineParser::AddParagraph(const VString& inText)
{
    if (fParagraphs)
        fInfos.AddParagraph(new VOptionBase(' ', VString(""), inText, false));
}

int VCommandLineParser::Parse()
{
    if (fArguments.size() < 2)
        return 0;
    ParseState state(*this);
    return state.Run();
}

void VCommandLineParser::Clear() { fInfos.Clear(); }

int VCommandLineParser::PrintArgumentError(const VString& inMessage)
{
    WriteUTF8Line(inMessage, stderr);
    return 1;
}

void VCommandLineParser::Print(const VString& inMessage) { WriteUTF8Line(inMessage, stdout); }

bool VCommandLineParser::ValidateLongOptionName(const VString& inName)
{
    int length = inName.GetLength();
    if (length == 0)
        return true;
    if (length == 1)
        return false;
    const UniChar* units = inName.GetCPointer();
    if (units[0] == '-' || units[length - 1] == '-')
        return false;
    for (int i = 0; i < length; ++i) {
        UniChar c = units[i];
        if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || c == '-'))
            return false;
    }
    return true;
}

bool VCommandLineParser::ValidateShortOptionName(UniChar inName)
{
    return inName == 0 || inName == ' ' || (inName >= 'a' && inName <= 'z') || (inName >= 'A' && inName <= 'Z') ||
           (inName >= '0' && inName <= '9');
}

}  // namespace qelt
