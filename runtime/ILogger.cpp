#include "runtime/ILogger.h"

#include "kernel/VString.h"
#include "runtime/VProcessServices_runtime.h"
#include "runtime/ILoggerBagKeys.h"
#include "runtime/VErrorBase.h"
#include "runtime/VTask.h"
#include "runtime/mac/XMacStackCrawl.h"
#include "values/VValueBag.h"

namespace qelt {

std::atomic<uint64_t> ILogger::sSequenceNumber{0};

uint64_t ILogger::GetSequenceNumber()
{
    return sSequenceNumber.fetch_add(1, std::memory_order_relaxed) + 1;
}

void GetLogSourceOfCurrentTask(VString& outSource)
{
    if (VTask* task = VTask::GetCurrent()) {
        VRefPtr<VValueBag> properties = AdoptRef(task->RetainProperties());
        if (properties != nullptr && ILoggerBagKeys::source.Get(*properties, outSource))
            return;
    }
    if (!GetProcessLogSourceIdentifier(outSource))
        outSource.Clear();
}

void CompactStackCrawl(const VString& inCrawl, VString& outLine)
{
    static const VString kNamespace("qelt::");
    static const VString kThunk("non-virtual thunk to ");
    static const VString kConst(" const");
    outLine.Clear();
    std::vector<VString> lines;
    inCrawl.GetSubStrings(UniChar('\n'), lines, true, true);
    bool first = true;
    for (VString& line : lines) {
        const int open = line.FindUniChar(UniChar('('));
        const int close = line.FindUniChar(UniChar(')'));
        if (open > 0 && close > open)
            line.Remove(open, close - open + 1);
        line.Exchange(kNamespace, VString(), 1, 0x7FFFFFFF, false);
        line.Exchange(kThunk, VString(), 1, 0x7FFFFFFF, false);
        if (line.EndsWithRawString(kConst))
            line.Remove(line.GetLength() - kConst.GetLength() + 1, kConst.GetLength());
        if (!first)
            outLine.AppendCString(" <- ");
        outLine.AppendString(line);
        first = false;
    }
}

void ILogger::LogErrorIfNecessary(VErrorBase* inError)
{
    if (inError == nullptr || !ShouldLog(EML_Error))
        return;
    VRefPtr<VValueBag> record = AdoptRef(new VValueBag);
    ILoggerBagKeys::level.Set(*record, EML_Error);
    inError->SaveToBag(*record);

    VString text;
    inError->GetErrorDescription(text);
    ILoggerBagKeys::message.Set(*record, text);

    const uint32_t signature = static_cast<uint32_t>(static_cast<uint64_t>(inError->GetError()) >> 32);
    if (signature != 0)
        ILoggerBagKeys::component_signature.Set(*record, signature);

    VString source;
    GetLogSourceOfCurrentTask(source);
    ILoggerBagKeys::source.Set(*record, source);
    if (VTask* task = VTask::GetCurrent()) {
        VRefPtr<VValueBag> properties = AdoptRef(task->RetainProperties());
        VString job;
        if (properties != nullptr && ILoggerBagKeys::jobId.Get(*properties, job))
            ILoggerBagKeys::jobId.Set(*record, job);
    }

    VString crawl;
    inError->GetStackCrawl(crawl);
    if (!crawl.IsEmpty()) {
        VString line;
        CompactStackCrawl(crawl, line);
        ILoggerBagKeys::stack_crawl.Set(*record, line);
    }
    LogBag(record.Get());
}

void ILogger::LogAssertIfNecessary(const char* inMessage, const char* inFileName, int inLineNumber)
{
    if (!ShouldLog(EML_Assert))
        return;
    VRefPtr<VValueBag> record = AdoptRef(new VValueBag);
    ILoggerBagKeys::level.Set(*record, EML_Assert);

    const char* name = inFileName != nullptr ? inFileName : "";
    for (const char* p = name; *p != 0; ++p) {
        if (*p == '/')
            name = p + 1;
    }
    ILoggerBagKeys::file_name.Set(*record, VString(name));
    ILoggerBagKeys::line_number.Set(*record, inLineNumber);
    ILoggerBagKeys::message.Set(*record, VString(inMessage != nullptr ? inMessage : ""));

    XMacStackCrawl crawl;
    crawl.LoadFrames(2, 8);
    VString text;
    crawl.Dump(text);
    if (!text.IsEmpty()) {
        VString line;
        CompactStackCrawl(text, line);
        ILoggerBagKeys::stack_crawl.Set(*record, line);
    }
    LogBag(record.Get());
}

}  // namespace qelt
