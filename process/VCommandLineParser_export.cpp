// The parser's declarations and arguments described for other programs: as
// JSON text, and as the OPTIONS section of a manual page.
#include "process/VCommandLineParser.h"

namespace qelt {

using Private::CommandLineParser::VOptionBase;

namespace {

// The JSON escaping of the text, without surrounding quotes.
void AppendEscaped(VString& ioOut, const VString& inText)
{
    VString escaped;
    if (inText.GetJSONString(escaped, 0) == VE_OK)
        ioOut.AppendString(escaped);
}

VString WithoutLineFeedsAndTabs(const VString& inText)
{
    VString result;
    result.FromCString("");
    const UniChar* units = inText.GetCPointer();
    for (int i = 0; i < inText.GetLength(); ++i)
        if (units[i] != '\n' && units[i] != '\t')
            result.AppendUniChar(units[i]);
    return result;
}

}  // namespace

void VCommandLineParser::ExportAsJSON(VString* outText) const
{
    if (outText == nullptr)
        return;
    VString& out = *outText;
    out.FromCString("{\n");
    out.AppendCString("\t\"arguments\": {\n\t\t\"count\": ");
    out.AppendULong8(fArguments.size());
    out.AppendCString(",\n\t\t\"values\": [\n");
    for (size_t i = 0; i < fArguments.size(); ++i) {
        out.AppendCString("\t\t\t\"");
        AppendEscaped(out, fArguments[i]);
        out.AppendCString(i + 1 < fArguments.size() ? "\",\n" : "\"\n");
    }
    out.AppendCString("\t\t]\n\t},\n");

    const std::vector<VOptionBase*>& entries = fInfos.GetEntries();
    out.AppendCString("\t\"options\": {\n\t\t\"count\": ");
    out.AppendULong8(entries.size());
    out.AppendCString(",\n\t\t\"values\": [\n");
    for (size_t i = 0; i < entries.size(); ++i) {
        const VOptionBase* entry = entries[i];
        out.AppendCString("\t\t\t{\n");
        if (entry->IsParagraph()) {
            out.AppendCString("\t\t\t\t\"paragraph\": \"");
            AppendEscaped(out, entry->GetDescription());
            out.AppendCString("\"\n");
        } else {
            // Names are escaped too, so that the text stays JSON whatever
            // a caller declared.
            if (entry->HasShortName()) {
                out.AppendCString("\t\t\t\t\"shortName\": \"");
                AppendEscaped(out, VString(entry->GetShortName()));
                out.AppendCString("\",\n");
            }
            if (entry->HasLongName()) {
                out.AppendCString("\t\t\t\t\"longName\": \"");
                AppendEscaped(out, entry->GetLongName());
                out.AppendCString("\",\n");
            }
            if (entry->RequiresValue())
                out.AppendCString("\t\t\t\t\"requiresValue\": true,\n");
            out.AppendCString("\t\t\t\t\"description\": \"");
            AppendEscaped(out, entry->GetDescription());
            out.AppendCString("\"\n");
        }
        out.AppendCString(i + 1 < entries.size() ? "\t\t\t},\n" : "\t\t\t}\n");
    }
    out.AppendCString("\t\t]\n\t}\n}\n");
}

void VCommandLineParser::ExportAsManPage(VString* ioText) const
{
    if (ioText == nullptr)
        return;
    VString& out = *ioText;
    out.AppendCString(".SH OPTIONS\n");
    bool optionWritten = false;
    for (const VOptionBase* entry : fInfos.GetEntries()) {
        if (entry->IsHidden())
            continue;
        if (entry->GetShortName() != ' ' || entry->HasLongName()) {
            out.AppendCString(".TP\n.BR ");
            if (entry->HasShortName()) {
                out.AppendCString("\\-");
                out.AppendUniChar(entry->GetShortName());
                if (entry->HasLongName())
                    out.AppendCString(" \", \" ");
                else if (entry->RequiresValue())
                    out.AppendCString(" \\fIVALUE\\fR");
            }
            if (entry->HasLongName()) {
                out.AppendCString("\\-\\-");
                out.AppendString(entry->GetLongName());
                if (entry->RequiresValue())
                    out.AppendCString("=\\fIVALUE\\fR");
            }
            out.AppendUniChar('\n');
            out.AppendString(WithoutLineFeedsAndTabs(entry->GetDescription()));
            out.AppendUniChar('\n');
            optionWritten = true;
        } else if (optionWritten) {
            out.AppendCString(".SS \"");
            AppendEscaped(out, WithoutLineFeedsAndTabs(entry->GetDescription()));
            out.AppendCString("\"\n");
        }
    }
}

void VCommandLineParser::PrintAllArguments(bool inToStandardError) const
{
    VString text;
    ExportAsJSON(&text);
    if (inToStandardError)
        PrintArgumentError(text);
    else
        Print(text);
}

}  // namespace qelt
