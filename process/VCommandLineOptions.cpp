#include "process/VCommandLineOptions.h"

#include <cctype>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cwctype>

#include <string>
#include <vector>

#include "files/VFile.h"
#include "files/VFolder.h"
#include "files/VFilePath.h"
#include "json/VJSONValue.h"
#include "kernel/StStringConverter.h"
#include "platform/PlatFile.h"
#include "platform/PlatRealPath.h"
#include "platform/PlatUTF8.h"
#include "runtime/VErrorContext.h"
#include "process/VCommandLineParser.h"

namespace qelt {

namespace Private::CommandLineParser {

VOptionBase::VOptionBase(UniChar inShortName, const VString& inLongName, const VString& inDescription,
                         bool inRequiresValue, bool inHidden)
    : fShortName(inShortName),
      fLongName(inLongName),
      fDescription(inDescription),
      fRequiresValue(inRequiresValue),
      fHidden(inHidden)
{
}

VOptionBase::~VOptionBase() = default;

int VOptionBase::AppendArgument(VCommandLineParser&, const VString&) { return 1; }

void VOptionBase::SetFlag() {}

bool VOptionBase::AppendFullName(VString& ioText) const
{
    if (HasShortName()) {
        ioText.AppendUniChar('-');
        ioText.AppendUniChar(fShortName);
        if (HasLongName())
            ioText.AppendCString(", ");
    }
    if (HasLongName()) {
        ioText.AppendCString("--");
        ioText.AppendString(fLongName);
    }
    return HasShortName() || HasLongName();
}

void VOptionBase::PrintErrorWhenAppendingInvalidValue(const VString& inReason, VString inValue) const
{
    // Longer values are cut to this many units in the message.
    constexpr int kShownUnits = 80;
    VString message("invalid value for argument '");
    if (!AppendFullName(message))
        message.AppendCString("<anonymous>");
    message.AppendCString("' got ");
    if (inValue.IsEmpty()) {
        message.AppendCString("empty value ");
    } else {
        message.AppendUniChar('"');
        if (inValue.GetLength() <= kShownUnits) {
            message.AppendString(inValue);
            message.AppendUniChar('"');
        } else {
            message.AppendUniChars(inValue.GetCPointer(), kShownUnits);
            message.AppendCString("...\"");
        }
        message.AppendUniChar(' ');
    }
    message.AppendString(inReason);
    VCommandLineParser::PrintArgumentError(message);
}

namespace {

template <class T>
int AppendConverted(VOptionBase& inOption, VCommandLineParser& ioParser, T& ioVariable, const VString& inValue,
                    const char* inReason)
{
    if (Extension::CommandLineParser::Argument<T>::Append(ioParser, ioVariable, inValue))
        return 0;
    inOption.PrintErrorWhenAppendingInvalidValue(VString(inReason), inValue);
    return 1;
}

}  // namespace

int VArgOption<bool>::AppendArgument(VCommandLineParser& ioParser, const VString& inValue)
{
    return AppendConverted(*this, ioParser, fVariable, inValue, "expected 0, 1, true or false");
}

int VArgOption<int>::AppendArgument(VCommandLineParser& ioParser, const VString& inValue)
{
    return AppendConverted(*this, ioParser, fVariable, inValue, "expected a signed integral");
}

int VArgOption<VString>::AppendArgument(VCommandLineParser&, const VString& inValue)
{
    fVariable = inValue;
    return 0;
}

void VArgOption<VString>::SetFlag() { fVariable.FromCString("1"); }

int VArgOption<std::vector<VString>>::AppendArgument(VCommandLineParser& ioParser, const VString& inValue)
{
    return AppendConverted(*this, ioParser, fVariable, inValue, "");
}

void VArgOption<std::vector<VString>>::SetFlag()
{
    fVariable.resize(1);
    fVariable[0].FromCString("");
}

// ---------------------------------------------------------------------------
// Help listing

namespace {

constexpr const char* kGreen = "\033[0;32m";
constexpr const char* kYellow = "\033[0;33m";
constexpr const char* kReset = "\033[0m";
// The column where option descriptions start.
constexpr int kDescriptionColumn = 29;

void AppendBlanks(VString& ioText, int inCount)
{
    for (int i = 0; i < inCount; ++i)
        ioText.AppendUniChar(' ');
}

bool IsBreakUnit(UniChar inUnit)
{
    return inUnit == ' ' || inUnit == '.' || inUnit == '\r' || inUnit == '\n' || inUnit == '\t';
}

// Appends the text broken into lines of about inWidth units at blanks, full
// stops and line ends; continuation lines start with inIndent blanks. A
// word longer than the width stays whole on a line of its own.
void AppendWrapped(VString& ioOut, const VString& inText, int inWidth, int inIndent)
{
    const UniChar* units = inText.GetCPointer();
    const int length = inText.GetLength();
    int lineStart = 0;
    int latestBreak = 0;  // 0: none on this line (a break unit at 0 counts as none)
    int search = 0;
    auto appendLine = [&](int inEnd) {
        ioOut.AppendUniChars(units + lineStart, inEnd - lineStart);
        ioOut.AppendUniChar('\n');
        AppendBlanks(ioOut, inIndent);
    };
    for (;;) {
        int found = search;
        while (found < length && !IsBreakUnit(units[found]))
            ++found;
        if (found >= length) {
            if (lineStart < length)
                ioOut.AppendUniChars(units + lineStart, length - lineStart);
            return;
        }
        if (found - lineStart > inWidth - 1) {
            int cut = latestBreak != 0 ? latestBreak : found;
            appendLine(cut);
            lineStart = cut + 1;
            latestBreak = cut < found ? found : 0;
        } else if (units[found] == '\n') {
            appendLine(found);
            lineStart = found + 1;
            latestBreak = 0;
        } else {
            latestBreak = found;
        }
        search = found + 1;
    }
}

VString WithoutTabs(const VString& inText)
{
    VString result;
    result.FromCString("");
    const UniChar* units = inText.GetCPointer();
    for (int i = 0; i < inText.GetLength(); ++i)
        if (units[i] != '\t')
            result.AppendUniChar(units[i]);
    return result;
}

void AppendOptionLine(VString& ioOut, bool inColours, UniChar inShortName, const VString& inLongName,
                      bool inRequiresValue, const VString& inDescription)
{
    constexpr int kDescriptionWidth = 50;
    bool hasShort = inShortName != 0 && inShortName != ' ';
    if (inColours)
        ioOut.AppendCString(kGreen);
    if (hasShort) {
        ioOut.AppendCString("  -");
        ioOut.AppendUniChar(inShortName);
        if (!inLongName.IsEmpty()) {
            ioOut.AppendCString(", ");
        } else if (inRequiresValue) {
            ioOut.AppendCString(" VALUE");
            AppendBlanks(ioOut, 14);
        } else {
            AppendBlanks(ioOut, 20);
        }
    } else {
        AppendBlanks(ioOut, 6);
    }
    if (!inLongName.IsEmpty()) {
        ioOut.AppendCString("--");
        ioOut.AppendString(inLongName);
        int used = 8 + inLongName.GetLength();
        if (inRequiresValue) {
            ioOut.AppendCString("=VALUE");
            used += 6;
        }
        if (used < kDescriptionColumn) {
            AppendBlanks(ioOut, kDescriptionColumn - used);
        } else {
            ioOut.AppendUniChar('\n');
            AppendBlanks(ioOut, kDescriptionColumn);
        }
    }
    if (inColours)
        ioOut.AppendCString(kReset);
    if (inDescription.GetLength() <= kDescriptionWidth)
        ioOut.AppendString(inDescription);
    else
        AppendWrapped(ioOut, inDescription, kDescriptionWidth, kDescriptionColumn);
    ioOut.AppendUniChar('\n');
}

}  // namespace

void StOptionsInfos::HelpUsage(const VString& inProgramName) const
{
    constexpr int kParagraphWidth = 80;
    const bool colours = plat::IsTerminal(1);
    VString out("Usage: ");
    out.AppendString(inProgramName);
    out.AppendCString(" [OPTION]...");
    if (fRestOption != nullptr)
        out.AppendCString(" [FILE]...");
    out.AppendUniChar('\n');

    auto isOption = [](const VOptionBase* inEntry) {
        return inEntry->GetShortName() != ' ' || inEntry->HasLongName();
    };
    if (!fEntries.empty() && isOption(fEntries.front())) {
        for (const VOptionBase* entry : fEntries) {
            if (entry->IsHidden())
                continue;
            if (isOption(entry))
                out.AppendUniChar('\n');
            break;
        }
    }

    for (const VOptionBase* entry : fEntries) {
        if (entry->IsHidden())
            continue;
        VString description = WithoutTabs(entry->GetDescription());
        if (isOption(entry)) {
            AppendOptionLine(out, colours, entry->GetShortName(), entry->GetLongName(), entry->RequiresValue(),
                             description);
        } else if (!description.IsEmpty()) {
            if (colours)
                out.AppendCString(kYellow);
            if (description.GetLength() < kParagraphWidth)
                out.AppendString(description);
            else
                AppendWrapped(out, description, kParagraphWidth, 0);
            if (colours)
                out.AppendCString(kReset);
            out.AppendUniChar('\n');
        }
    }

    VString help("help");
    if (FindLong(help) == nullptr)
        AppendOptionLine(out, colours, FindShort('h') == nullptr ? 'h' : ' ', help, false,
                         VString("Display the help and exit"));

    StStringConverter<char> utf8(out, VTC_UTF_8);
    if (utf8.IsOK())
        std::fwrite(utf8.GetCPointer(), 1, utf8.GetSize(), stdout);
}

}  // namespace Private::CommandLineParser

// ---------------------------------------------------------------------------
// Conversions

namespace Extension::CommandLineParser {

namespace {

// The C library's space class: its fixed set for ASCII, the process
// locale's for other units.
bool IsCSpace(UniChar inUnit) { return inUnit < 128 ? std::isspace(inUnit) != 0 : std::iswspace(inUnit) != 0; }

// The trimmed text as ASCII digits and signs in outBuffer; false when it is
// empty, longer than 30 units or holds any other unit.
bool IntegerText(const VString& inText, char (&outBuffer)[31])
{
    const UniChar* units = inText.GetCPointer();
    int start = 0;
    int end = inText.GetLength();
    while (start < end && IsCSpace(units[start]))
        ++start;
    while (end > start && IsCSpace(units[end - 1]))
        --end;
    int length = end - start;
    if (length == 0 || length > 30)
        return false;
    for (int i = 0; i < length; ++i) {
        UniChar c = units[start + i];
        if (!((c >= '0' && c <= '9') || c == '+' || c == '-'))
            return false;
        outBuffer[i] = static_cast<char>(c);
    }
    outBuffer[length] = 0;
    return true;
}

// Converts with the C library function in base 0; false when nothing was
// consumed, units remain or the value is out of the function's range.
template <class R>
bool ConvertInteger(const VString& inText, R (*inConvert)(const char*, char**, int), R& outValue, bool& outNegative)
{
    char buffer[31];
    if (!IntegerText(inText, buffer))
        return false;
    char* end = nullptr;
    errno = 0;
    R value = inConvert(buffer, &end, 0);
    if (end == buffer || *end != 0 || errno == ERANGE)
        return false;
    outValue = value;
    outNegative = buffer[0] == '-';
    return true;
}

}  // namespace

bool Argument<bool>::Append(VCommandLineParser&, bool& outValue, const VString& inText)
{
    if (inText.EqualToUSASCIICString("1") || inText.EqualToString(VString("true"), false)) {
        outValue = true;
        return true;
    }
    if (inText.EqualToUSASCIICString("0") || inText.EqualToString(VString("false"), false)) {
        outValue = false;
        return true;
    }
    return false;
}

bool Argument<int>::Append(VCommandLineParser&, int& outValue, const VString& inText)
{
    long value = 0;
    bool negative = false;
    // A value beyond 32 bits is refused rather than cut to a different number.
    if (!ConvertInteger<long>(inText, std::strtol, value, negative) || value < INT_MIN || value > INT_MAX)
        return false;
    outValue = static_cast<int>(value);
    return true;
}

bool Argument<unsigned int>::Append(VCommandLineParser&, unsigned int& outValue, const VString& inText)
{
    unsigned long value = 0;
    bool negative = false;
    if (!ConvertInteger<unsigned long>(inText, std::strtoul, value, negative))
        return false;
    // A leading '-' negates as the C library does; the magnitude must fit 32 bits.
    unsigned long magnitude = negative ? 0UL - value : value;
    if (magnitude > UINT_MAX)
        return false;
    outValue = static_cast<unsigned int>(value);
    return true;
}

bool Argument<long long>::Append(VCommandLineParser&, long long& outValue, const VString& inText)
{
    bool negative = false;
    return ConvertInteger<long long>(inText, std::strtoll, outValue, negative);
}

bool Argument<unsigned long long>::Append(VCommandLineParser&, unsigned long long& outValue, const VString& inText)
{
    bool negative = false;
    return ConvertInteger<unsigned long long>(inText, std::strtoull, outValue, negative);
}

bool Argument<std::vector<VString>>::Append(VCommandLineParser&, std::vector<VString>& ioValues, const VString& inText)
{
    ioValues.push_back(inText);
    return true;
}

bool Argument<VJSONValue>::Append(VCommandLineParser&, VJSONValue& ioValue, const VString& inText)
{
    auto oneOf = [&inText](const char* a, const char* b, const char* c) {
        return inText.EqualToString(VString(a), false) || inText.EqualToString(VString(b), false) ||
               inText.EqualToString(VString(c), false);
    };
    switch (ioValue.GetType()) {
        case JSON_string:
            ioValue.SetString(inText);
            return true;
        case JSON_false:
        case JSON_true:
            if (oneOf("1", "true", "on")) {
                ioValue.SetBool(true);
                return true;
            }
            if (oneOf("0", "false", "off")) {
                ioValue.SetBool(false);
                return true;
            }
            return false;
        case JSON_object:
        case JSON_undefined: {
            // A parse error only makes the conversion fail.
            StErrorContextInstaller quiet(false, true);
            return ioValue.ParseFromString(inText) == VE_OK;
        }
        default:
            return false;
    }
}

namespace {

// Resolves the POSIX path text (links, "." and "..") into outPath; false (the
// path set from the text as it is, or cleared when empty) when it does not
// resolve.
bool ResolvePath(const VString& inText, VFilePath& outPath)
{
    if (inText.IsEmpty()) {
        outPath.Clear();
        return false;
    }
    // Path texts carry bytes that are no UTF-8 as U+DC00 + the byte.
    std::string bytes = plat::UTF16ToUTF8(inText.GetCPointer(), static_cast<size_t>(inText.GetLength()),
                                          plat::UTF8Mode::kPath);
    std::string text;
    if (bytes.find('\0') != std::string::npos || plat::RealPath(bytes.c_str(), true, text) != 0) {
        outPath.FromFullPath(inText, FPS_POSIX);
        return false;
    }
    plat::EntryInfo info;
    if (text.back() != '/' && plat::GetEntryInfo(text.c_str(), true, info) == 0 && info.kind == plat::EntryKind::Folder)
        text += '/';
    std::vector<unsigned short> units(text.size() + 1);
    plat::UTF8Result decoded =
        plat::DecodeUTF8(text.data(), text.size(), units.data(), units.size(), plat::UTF8Mode::kPath, true);
    VString path;
    path.FromUniString(units.data(), static_cast<int>(decoded.produced));
    outPath.FromFullPath(path, FPS_POSIX);
    return true;
}

}  // namespace

bool Argument<VFilePath>::Append(VFilePath& outPath, const VString& inText)
{
    ResolvePath(inText, outPath);
    return true;
}

bool Argument<VRefPtr<VFile>>::Append(VRefPtr<VFile>& outFile, const VString& inText)
{
    // File-system failures only make the conversion fail.
    StErrorContextInstaller quiet(false, true);
    VFilePath path;
    if (!ResolvePath(inText, path) || !path.IsFile()) {
        outFile = nullptr;
        return false;
    }
    VRefPtr<VFile> file = AdoptRef(new VFile(path));
    if (file->IsAliasFile() && VFile::ResolveAliasFile(file, false) != VE_OK)
        file = AdoptRef(new VFile(path));
    if (!file->Exists()) {
        outFile = nullptr;
        return false;
    }
    outFile = file;
    return true;
}

bool Argument<VRefPtr<VFolder>>::Append(VRefPtr<VFolder>& outFolder, const VString& inText)
{
    VFilePath path;
    if (!ResolvePath(inText, path) || !path.IsFolder()) {
        outFolder = nullptr;
        return false;
    }
    outFolder = AdoptRef(new VFolder(path));
    return true;
}

}  // namespace Extension::CommandLineParser

}  // namespace qelt
