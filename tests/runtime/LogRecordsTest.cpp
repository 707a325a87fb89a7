// Log records: the builders of messages, errors and assertions, and the
// compaction of stack crawls.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "TestProcess.h"
#include "kernel/StStringConverter.h"
#include "kernel/VString.h"
#include "runtime/ILoggerBagKeys.h"
#include "runtime/VErrorBase.h"
#include "runtime/VLogger.h"
#include "runtime/VTask.h"
#include "values/VValueBag.h"

using namespace qelt;

namespace {

std::string Text(const VString& s)
{
    return to_string(s);
}

// A started logger that keeps what it is given in its ring.
VRefPtr<VLogger> StartedLogger()
{
    VRefPtr<VLogger> logger = AdoptRef(new VLogger);
    logger->Start();
    return logger;
}

// The records taken out of the logger's ring.
std::vector<VRefPtr<const VValueBag>> Taken(VLogger* logger)
{
    std::vector<VRefPtr<const VValueBag>> records;
    for (const VValueBag* record : logger->Read())
        records.push_back(AdoptRef(record));
    return records;
}

std::string Attribute(const VValueBag& record, const char* name)
{
    VString value;
    if (!record.GetAttribute(StPackedDictionaryKey(name), value))
        return "<absent>";
    return Text(value);
}

// Sets or clears the current task's "source" and "jobId" properties.
void SetTaskProperties(const char* source, const char* job)
{
    VRefPtr<VValueBag> properties;
    if (source != nullptr || job != nullptr) {
        properties = AdoptRef(new VValueBag);
        if (source != nullptr)
            ILoggerBagKeys::source.Set(*properties, VString(source));
        if (job != nullptr)
            ILoggerBagKeys::jobId.Set(*properties, VString(job));
    }
    VTask::GetCurrent()->SetProperties(properties.Get());
}

}  // namespace

TEST(LogRecords, MessageRecordsCarryTheLevelOnlyWhenItIsNotInfo)
{
    VRefPtr<VLogger> logger = StartedLogger();
    const std::string processSource = Text(VProcess::sInstance->GetLogSourceIdentifier());

    logger->LogMessage(EML_Info, VString("word"), VString());
    logger->LogMessage(EML_Warning, VString("warned"), VString("given"));
    logger->LogMessage(EML_Debug, VString("dropped"), VString());
    SetTaskProperties("task source", nullptr);
    logger->LogMessage(EML_Error, VString("from task"), VString());
    SetTaskProperties(nullptr, nullptr);

    std::vector<VRefPtr<const VValueBag>> records = Taken(logger.Get());
    ASSERT_EQ(records.size(), 3u);
    EXPECT_EQ(Attribute(*records[0], "level"), "<absent>");
    EXPECT_EQ(Attribute(*records[0], "message"), "word");
    EXPECT_EQ(Attribute(*records[0], "source"), processSource);
    EXPECT_EQ(Attribute(*records[1], "level"), "5");
    EXPECT_EQ(Attribute(*records[1], "source"), "given");
    EXPECT_EQ(Attribute(*records[2], "source"), "task source");
    EXPECT_EQ(ILoggerBagKeys::level.Get(*records[2]), EML_Error);
}

TEST(LogRecords, ErrorRecordsCarryCodeSignatureDescriptionAndTaskFacts)
{
    VRefPtr<VLogger> logger = StartedLogger();
    SetTaskProperties(nullptr, "job-7");
    VRefPtr<VErrorBase> toolbox = AdoptRef(new VErrorBase(QeltError(4)));
    VRefPtr<VErrorBase> bare = AdoptRef(new VErrorBase(VError(1234)));
    logger->LogErrorIfNecessary(toolbox.Get());
    logger->LogErrorIfNecessary(bare.Get());
    SetTaskProperties(nullptr, nullptr);

    std::vector<VRefPtr<const VValueBag>> records = Taken(logger.Get());
    ASSERT_EQ(records.size(), 2u);
    const VValueBag& record = *records[0];
    EXPECT_EQ(ILoggerBagKeys::level.Get(record), EML_Error);
    EXPECT_EQ(ILoggerBagKeys::error_code.Get(record), static_cast<uint64_t>(QeltError(4)));
    uint32_t signature = 0;
    EXPECT_TRUE(ILoggerBagKeys::component_signature.Get(record, signature));
    EXPECT_EQ(signature, FourCC("qelt"));
    VString description;
    toolbox->GetErrorDescription(description);
    EXPECT_EQ(Attribute(record, "message"), Text(description));
    EXPECT_EQ(ILoggerBagKeys::task_id.Get(record), VTask::GetCurrentID());
    EXPECT_EQ(Attribute(record, "jobId"), "job-7");
    EXPECT_EQ(Attribute(record, "stack_crawl"), "<absent>");

    uint32_t none = 0;
    EXPECT_FALSE(ILoggerBagKeys::component_signature.Get(*records[1], none));

    // A logger that does not take errors builds nothing.
    logger->WithError(false);
    logger->LogErrorIfNecessary(toolbox.Get());
    EXPECT_TRUE(Taken(logger.Get()).empty());
}

TEST(LogRecords, AssertRecordsNameTheLastPathElementAndCarryTheStack)
{
    VRefPtr<VLogger> logger = StartedLogger();
    logger->LogAssertIfNecessary("x > 0", "/a/b/c/unit", 12);
    EXPECT_TRUE(Taken(logger.Get()).empty());  // asserts are off by default

    logger->WithAssert(true);
    logger->LogAssertIfNecessary("x > 0", "/a/b/c/unit", 12);
    logger->LogAssertIfNecessary("y", "plain", 3);
    std::vector<VRefPtr<const VValueBag>> records = Taken(logger.Get());
    ASSERT_EQ(records.size(), 2u);
    EXPECT_EQ(ILoggerBagKeys::level.Get(*records[0]), EML_Assert);
    EXPECT_EQ(Attribute(*records[0], "file_name"), "unit");
    EXPECT_EQ(ILoggerBagKeys::line_number.Get(*records[0]), 12);
    EXPECT_EQ(Attribute(*records[0], "message"), "x > 0");
    EXPECT_NE(Attribute(*records[0], "stack_crawl"), "<absent>");
    EXPECT_EQ(Attribute(*records[0], "stack_crawl").find('\n'), std::string::npos);
    EXPECT_EQ(Attribute(*records[1], "file_name"), "plain");
}

TEST(LogRecords, StackCrawlsAreCompactedIntoOneLine)
{
    struct Case { const char* crawl; const char* line; };
    const Case cases[] = {
        {"qelt::VTask::Run() const\nnon-virtual thunk to qelt::VFolder::Delete(bool)", "VTask::Run <- VFolder::Delete"},
        {"  {1} 0x00001 - qelt::VFolder::CreateRecursive(bool) const  ", "{1} 0x00001 - VFolder::CreateRecursive"},
        {"odd)frame(", "odd)frame("},
        {"single(int)", "single"},
        {"a\n\nb", "a <-  <- b"},
    };
    for (const Case& c : cases) {
        VString line;
        CompactStackCrawl(VString(c.crawl), line);
        EXPECT_EQ(Text(line), c.line) << c.crawl;
    }
}
