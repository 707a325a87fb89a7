#include "runtime/VLog4jMsgFileLogger.h"

#include <cstdio>
#include <cstring>
#include <string>
#include <string_view>
#include <unordered_map>

#include "files/VFile.h"
#include "files/VFolder.h"
#include "kernel/StStringConverter.h"
#include "platform/PlatTime.h"
#include "runtime/VProcessServices_runtime.h"
#include "runtime/ILoggerBagKeys.h"
#include "runtime/VSplitableLogFile.h"
#include "values/VValueBag.h"

namespace qelt {

namespace {

// The text written before an attribute's value in a line's attribute list;
// an empty prefix leaves the attribute out. Keys not listed are written as
// their own name followed by "=".
const std::unordered_map<std::string_view, const char*>& KeyPrefixes()
{
    static const std::unordered_map<std::string_view, const char*> sPrefixes = {
        {"message", ""},
        {"error_code", ""},
        {"level", ""},
        {"source", ""},
        {"component_signature", ""},
        {"task_id", "task="},
        {"task_name", "taskName="},
        {"socket", "socket="},
        {"local_addr", "localAddr="},
        {"local_port", "localPort="},
        {"peer_addr", "peerAddr="},
        {"peer_port", "peerPort="},
        {"exchange_id", "exchangeEndpointId="},
        {"is_blocking", "blocking="},
        {"is_ssl", "SSL="},
        {"is_select_io", "selectIO="},
        {"ms_timeout", "timeout="},
        {"count_bytes_asked", "asked="},
        {"count_bytes_sent", "sent="},
        {"count_bytes_received", "received="},
        {"ms_spent", "executionTime="},
        {"dump_offset", "offset="},
        {"dump_buffer", "data="},
        {"file_name", "fileName="},
        {"line_number", "lineNumber="},
        {"stack_crawl", "stackCrawl="},
        {"user_id", "UUID="},
    };
    return sPrefixes;
}

// Every line end of the text as " ; " (a CR LF pair counts as one), so that
// one record stays one line.
void ReplaceLineEnds(VString& ioText)
{
    const UniChar* units = ioText.GetCPointer();
    const int length = ioText.GetLength();
    int i = 0;
    while (i < length && units[i] != '\n' && units[i] != '\r')
        ++i;
    if (i == length)
        return;
    VString result;
    result.FromUniString(units, i);
    for (; i < length; ++i) {
        if (units[i] == '\r' || units[i] == '\n') {
            if (units[i] == '\r' && i + 1 < length && units[i + 1] == '\n')
                ++i;
            result.AppendCString(" ; ");
        } else {
            result.AppendUniChar(units[i]);
        }
    }
    ioText.FromString(result);
}

// The same for UTF-8 bytes: the text itself when it holds no line end.
const char* OneLine(const char* inText, std::string& ioStorage)
{
    if (std::strpbrk(inText, "\r\n") == nullptr)
        return inText;
    ioStorage.clear();
    for (const char* p = inText; *p != 0; ++p) {
        if (*p == '\r' || *p == '\n') {
            if (p[0] == '\r' && p[1] == '\n')
                ++p;
            ioStorage += " ; ";
        } else {
            ioStorage += *p;
        }
    }
    return ioStorage.c_str();
}

// The local time as "YYYY-MM-DDTHH:MM:SS.mmm"; the part up to the seconds is
// made again only when the second changes.
struct LocalTimeText {
    int64_t second = INT64_MIN;
    int head = 0;  // length of the text up to the seconds and the '.'
    char text[48] = {};

    const char* Now()
    {
        const int64_t ms = plat::RealtimeMilliseconds();
        int64_t now = ms / 1000;
        int millisecond = static_cast<int>(ms % 1000);
        if (millisecond < 0) {
            millisecond += 1000;
            --now;
        }
        if (now != second) {
            plat::CivilTime local;
            plat::UTCFromUnixSeconds(now + plat::LocalOffsetAt(now), local);
            head = std::snprintf(text, sizeof(text), "%04d-%02d-%02dT%02d:%02d:%02d.", static_cast<int>(local.year),
                                 local.month, local.day, local.hour, local.minute, local.second);
            if (head < 0 || head > 40)
                head = 40;
            second = now;
        }
        text[head] = static_cast<char>('0' + millisecond / 100);
        text[head + 1] = static_cast<char>('0' + millisecond / 10 % 10);
        text[head + 2] = static_cast<char>('0' + millisecond % 10);
        text[head + 3] = 0;
        return text;
    }
};

thread_local LocalTimeText tLocalTime;

// A line put together in a small fixed buffer; Fits tells whether all of it
// found room.
class LineBuilder {
public:
    void Add(const char* inText)
    {
        const size_t length = std::strlen(inText);
        if (fFits && length < sizeof(fText) - fLength) {
            std::memcpy(fText + fLength, inText, length);
            fLength += length;
        } else {
            fFits = false;
        }
    }

    void Number(unsigned long long inValue)
    {
        char digits[24];
        int count = 0;
        do {
            digits[count++] = static_cast<char>('0' + inValue % 10);
            inValue /= 10;
        } while (inValue != 0);
        char text[24];
        for (int i = 0; i < count; ++i)
            text[i] = digits[count - 1 - i];
        text[count] = 0;
        Add(text);
    }

    bool Fits() const { return fFits; }
    const char* Text()
    {
        fText[fLength] = 0;
        return fText;
    }

private:
    char fText[1024];
    size_t fLength = 0;
    bool fFits = true;
};

}  // namespace

VLog4jMsgFileLogger::VLog4jMsgFileLogger(const VFolder& inFolder, const VString& inName)
    : fFolderPath(inFolder.GetPath()), fLogName(inName)
{
}

VLog4jMsgFileLogger::~VLog4jMsgFileLogger()
{
    Stop();
    // A registration that raced with Stop must not outlive this object.
    if (ILogger* logger = GetProcessLogger())
        logger->RemoveLogListener(&fListener);
}

bool VLog4jMsgFileLogger::_CanStart() const
{
    VString folder;
    fFolderPath.GetPath(folder);
    return fFolderPath.IsValid() && !folder.IsEmpty() && fFolderPath.IsFolder() && !fLogName.IsNull() &&
           !fLogName.IsEmpty();
}

void VLog4jMsgFileLogger::Start()
{
    if (!_CanStart())
        return;
    // The last part of the unbroken run of existing parts from part 1.
    int k = 1;
    while (true) {
        VString name;
        BuildLogFileName(fLogName, k, name);
        VRefPtr<VFile> part = AdoptRef(new VFile(fFolderPath, name, FPS_SYSTEM));
        if (!part->Exists())
            break;
        ++k;
    }
    Start(k - 1 >= 1 ? k - 1 : 1);
}

void VLog4jMsgFileLogger::Start(int inPartNumber)
{
    bool opened = false;
    {
        StLocker locker(fLock);
        if (fLogFile != nullptr || !_CanStart())
            return;
        VRefPtr<VFolder> folder = AdoptRef(new VFolder(fFolderPath));
        fLogFile = new VSplitableLogFile(*folder, fLogName, inPartNumber, false);
        if (fLogFile->Open(false, false)) {
            VTime::Now(fStartTime);
            fStarted.store(true, std::memory_order_release);
            opened = true;
        } else {
            delete fLogFile;
            fLogFile = nullptr;
        }
    }
    // Outside the lock: the process logger calls Put, which takes it, under
    // its own listener lock.
    if (opened) {
        if (ILogger* logger = GetProcessLogger())
            logger->AddLogListener(&fListener);
    }
}

void VLog4jMsgFileLogger::Stop()
{
    bool hasFile = false;
    {
        StLocker locker(fLock);
        hasFile = fLogFile != nullptr;
    }
    // Unregistering flushes the pending records, so they are written before
    // the file closes.
    if (hasFile) {
        if (ILogger* logger = GetProcessLogger())
            logger->RemoveLogListener(&fListener);
    }
    StLocker locker(fLock);
    if (fLogFile != nullptr) {
        fLogFile->Close();
        delete fLogFile;
        fLogFile = nullptr;
        fStarted.store(false, std::memory_order_release);
    }
    fStartTime.Clear();
}

bool VLog4jMsgFileLogger::_IsStarted() const
{
    StLocker locker(fLock);
    return fLogFile != nullptr && fLogFile->IsOpen();
}

void VLog4jMsgFileLogger::Flush()
{
    StLocker locker(fLock);
    if (fLogFile != nullptr)
        fLogFile->Flush();
}

bool VLog4jMsgFileLogger::ShouldLog(EMessageLevel inLevel) const
{
    if (!IsStarted())
        return false;
    return (fLevelMask & (1u << (static_cast<unsigned int>(inLevel) % 32))) != 0;
}

const char* VLog4jMsgFileLogger::GetMessageLevelName(EMessageLevel inLevel)
{
    static const char* const kNames[] = {"DUMP", "TRACE", "ASSERT", "DEBUG", "INFO", "WARN", "ERROR", "FATAL"};
    const unsigned int index = static_cast<unsigned int>(inLevel);
    return index < 8 ? kNames[index] : "INFO";
}

void VLog4jMsgFileLogger::BuildLogFileName(const VString& inName, int inPartNumber, VString& outFileName)
{
    VSplitableLogFile::BuildLogFileName(inName, inPartNumber, outFileName);
}

void VLog4jMsgFileLogger::SetLogMaxNumberToKeep(int inCount)
{
    StLocker locker(fLock);
    if (fLogFile != nullptr)
        fLogFile->SetMaxLogsToKeep(inCount);
}

int VLog4jMsgFileLogger::GetLogMaxNumberToKeep() const
{
    StLocker locker(fLock);
    return fLogFile != nullptr ? fLogFile->GetMaxLogsToKeep() : 0;
}

void VLog4jMsgFileLogger::GetLogInfosFromBag(const VValueBag* inRecord, VString& outLoggerName,
                                             EMessageLevel& outLevel, VString& outMessage)
{
    outLoggerName.Clear();
    outMessage.Clear();
    outLevel = EML_Info;
    if (inRecord == nullptr)
        return;
    const VValueBag& record = *inRecord;
    ILoggerBagKeys::message.Get(record, outMessage);
    const uint64_t errorCode = ILoggerBagKeys::error_code.Get(record);
    outLevel = ILoggerBagKeys::level.Get(record);
    if (!ILoggerBagKeys::source.Get(record, outLoggerName))
        GetProcessLogSourceIdentifier(outLoggerName);

    uint32_t signature = 0;
    if (!ILoggerBagKeys::component_signature.Get(record, signature))
        signature = static_cast<uint32_t>(errorCode >> 32);
    if (signature != 0) {
        if (!outLoggerName.IsEmpty())
            outLoggerName.AppendCString(".");
        outLoggerName.AppendOsType(signature);
    }
    if (errorCode != 0) {
        VString code;
        code.Printf("[%d] ", static_cast<int32_t>(static_cast<uint32_t>(errorCode)));
        outMessage.Insert(code, 1);
    }

    VString list(" (");
    const VValueBag::Attributes& attributes = record.GetAttributesDictionary();
    const std::unordered_map<std::string_view, const char*>& prefixes = KeyPrefixes();
    bool first = true;
    for (size_t i = 0; i < attributes.GetCount(); ++i) {
        unsigned long keyLength = 0;
        const char* keyBytes = attributes.GetKeyBytesAt(i, keyLength);
        const std::string_view key(keyBytes, keyLength);
        auto found = prefixes.find(key);
        if (found != prefixes.end() && found->second[0] == 0)
            continue;
        const VValueSingle* value = attributes.GetValueAt(i);
        if (value == nullptr)
            continue;
        if (!first)
            list.AppendCString(", ");
        first = false;
        if (found != prefixes.end()) {
            list.AppendCString(found->second);
        } else {
            VString name;
            name.FromBlock(keyBytes, keyLength, VTC_UTF_8);
            list.AppendString(name);
            list.AppendCString("=");
        }
        VString text;
        value->GetString(text);
        ReplaceLineEnds(text);
        list.AppendString(text);
    }
    list.AppendCString(")");
    outMessage.AppendString(list);
}

void VLog4jMsgFileLogger::_WriteLine(const char* inLoggerName, EMessageLevel inLevel, const char* inMessage)
{
    if (!IsStarted() || IsPaused() || (fLevelMask & (1u << (static_cast<unsigned int>(inLevel) % 32))) == 0)
        return;
    std::string nameStorage;
    std::string messageStorage;
    const char* name = OneLine(inLoggerName != nullptr ? inLoggerName : "", nameStorage);
    const char* message = OneLine(inMessage != nullptr ? inMessage : "", messageStorage);
    StLocker locker(fLock);
    if (fLogFile == nullptr)
        return;
    const char* time = tLocalTime.Now();
    const unsigned long long sequence = ILogger::GetSequenceNumber();
    const char* levelName = GetMessageLevelName(inLevel);
    // Usual lines are put together here and written in one piece; longer
    // ones go through the formatted append.
    LineBuilder line;
    if (sequence != 0) {
        line.Number(sequence);
        line.Add(" ");
    }
    line.Add(time);
    line.Add(" [");
    line.Add(name);
    line.Add("] ");
    line.Add(levelName);
    line.Add(" - ");
    line.Add(message);
    line.Add("\n");
    if (line.Fits())
        fLogFile->AppendString(line.Text());
    else if (sequence != 0)
        fLogFile->AppendFormattedString("%llu %s [%s] %s - %s\n", sequence, time, name, levelName, message);
    else
        fLogFile->AppendFormattedString("%s [%s] %s - %s\n", time, name, levelName, message);
}

void VLog4jMsgFileLogger::VLog4jLogListener::Put(const std::vector<const VValueBag*>& inRecords)
{
    StLocker locker(fOwner->fLock);
    if (fOwner->fLogFile == nullptr)
        return;
    VString loggerName;
    VString message;
    EMessageLevel level = EML_Info;
    for (const VValueBag* record : inRecords) {
        GetLogInfosFromBag(record, loggerName, level, message);
        Log(loggerName, level, message);
    }
    fOwner->fLogFile->Flush();
}

void VLog4jMsgFileLogger::VLog4jLogListener::Log(const VString& inLoggerName, EMessageLevel inLevel,
                                                 const VString& inMessage)
{
    StStringConverter<char> name(inLoggerName, VTC_UTF_8);
    StStringConverter<char> message(inMessage, VTC_UTF_8);
    Log(name.GetCPointer(), inLevel, message.GetCPointer());
}

void VLog4jMsgFileLogger::VLog4jLogListener::Log(const char* inLoggerName, EMessageLevel inLevel,
                                                 const char* inMessage)
{
    fOwner->_WriteLine(inLoggerName, inLevel, inMessage);
}

}  // namespace qelt
