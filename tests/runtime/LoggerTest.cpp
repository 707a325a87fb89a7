// The process logger: its ring, levels, listeners and task.
#include <algorithm>
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "TestProcess.h"
#include "kernel/VLong.h"
#include "kernel/StStringConverter.h"
#include "kernel/VString.h"
#include "runtime/ILoggerBagKeys.h"
#include "runtime/VLogger.h"
#include "runtime/VTask.h"
#include "values/VValueBag.h"

using namespace qelt;
using qelt::test::RecordingListener;

namespace {

std::string Text(const VString& s)
{
    return to_string(s);
}

VRefPtr<VValueBag> Record(const std::string& message, int level = EML_Info)
{
    VRefPtr<VValueBag> record = AdoptRef(new VValueBag);
    ILoggerBagKeys::message.Set(*record, VString(message.c_str()));
    ILoggerBagKeys::level.Set(*record, static_cast<EMessageLevel>(level));
    return record;
}

// The number of holders of a record.
int32_t Holders(const VValueBag* record)
{
    const int32_t count = record->Retain() - 1;
    record->Release();
    return count;
}

// A started logger whose task has been stopped: records stay in the ring
// until the test flushes them itself.
class ManualLogger {
public:
    ManualLogger()
    {
        fLogger->Start();
        fLogger->AddLogListener(fListener.Get());
        fLogger->Stop();
    }
    VLogger* operator->() const { return fLogger.Get(); }
    VLogger* Get() const { return fLogger.Get(); }
    RecordingListener* Listener() const { return fListener.Get(); }

private:
    VRefPtr<VLogger> fLogger = AdoptRef(new VLogger);
    VRefPtr<RecordingListener> fListener = AdoptRef(new RecordingListener);
};

}  // namespace

TEST(Logger, FlushDeliversTheLastThousandRecordsOldestFirst)
{
    struct Case { int logged; int firstDelivered; };
    const Case cases[] = {{999, 1}, {1000, 1}, {1001, 2}, {2500, 1501}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.logged);
        ManualLogger logger;
        std::vector<VRefPtr<VValueBag>> records;
        for (int i = 1; i <= c.logged; ++i) {
            records.push_back(Record(std::to_string(i)));
            logger->LogBag(records.back().Get());
        }
        logger->Flush();
        const std::vector<VString> messages = logger.Listener()->Messages();
        ASSERT_EQ(static_cast<int>(messages.size()), c.logged - c.firstDelivered + 1);
        for (size_t i = 0; i < messages.size(); ++i)
            ASSERT_EQ(Text(messages[i]), std::to_string(c.firstDelivered + static_cast<int>(i)));
        // A record dropped by the ring was released unseen; a delivered one
        // is held by the listener only, besides the test.
        if (c.firstDelivered > 1) {
            EXPECT_EQ(Holders(records[0].Get()), 1);
        }
        EXPECT_EQ(Holders(records.back().Get()), 2);
        // The ring is empty afterwards, and its wrapped state forgotten.
        logger->Flush();
        EXPECT_EQ(logger.Listener()->Messages().size(), messages.size());
        logger->LogBag(Record("next").Get());
        logger->Flush();
        EXPECT_EQ(Text(logger.Listener()->Messages().back()), "next");
        EXPECT_EQ(logger.Listener()->Messages().size(), messages.size() + 1);
    }
}

TEST(Logger, RecordsEnterOnlyWhenStartedAndTheirLevelIsOn)
{
    VRefPtr<VLogger> logger = AdoptRef(new VLogger);
    EXPECT_FALSE(logger->IsStarted());
    logger->LogBag(Record("before start").Get());
    EXPECT_TRUE(logger->Read().empty());

    logger->Start();
    EXPECT_TRUE(logger->IsStarted());
    logger->LogBag(Record("debug", EML_Debug).Get());
    logger->LogBag(nullptr);
    EXPECT_TRUE(logger->Read().empty());
    EXPECT_FALSE(logger->WithDebug(true));
    EXPECT_TRUE(logger->WithDebug(true));
    logger->LogBag(Record("debug", EML_Debug).Get());
    std::vector<const VValueBag*> taken = logger->Read();
    ASSERT_EQ(taken.size(), 1u);
    taken[0]->Release();

    // Level masks: the default takes info to fatal; any bit can be set.
    struct Case { EMessageLevel level; bool byDefault; };
    const Case cases[] = {{EML_Dump, false}, {EML_Trace, false}, {EML_Assert, false}, {EML_Info, true},
                          {EML_Warning, true}, {EML_Error, true}, {EML_Fatal, true}};
    VRefPtr<VLogger> fresh = AdoptRef(new VLogger);
    fresh->Start();
    for (const Case& c : cases)
        EXPECT_EQ(fresh->ShouldLog(c.level), c.byDefault) << c.level;
    EXPECT_FALSE(fresh->WithTag(40, true));  // bit 8
    EXPECT_TRUE(fresh->ShouldLog(static_cast<EMessageLevel>(8)));
    EXPECT_TRUE(fresh->WithError(false));
    EXPECT_FALSE(fresh->ShouldLog(EML_Error));
}

TEST(Logger, ListenersAreRegisteredOnceAndTheLastAddedHearsFirst)
{
    VRefPtr<VLogger> logger = AdoptRef(new VLogger);
    logger->Start();

    // The two listeners write into one shared journal.
    struct Journal : public VObject, public ILogListener {
        Journal(std::vector<std::string>& journal, const char* name) : fJournal(journal), fName(name) {}
        void Put(const std::vector<const VValueBag*>&) override { fJournal.push_back(fName); }
        std::vector<std::string>& fJournal;
        std::string fName;
    };
    std::vector<std::string> journal;
    VRefPtr<Journal> first = AdoptRef(new Journal(journal, "first"));
    VRefPtr<Journal> second = AdoptRef(new Journal(journal, "second"));

    EXPECT_FALSE(logger->AddLogListener(nullptr));
    EXPECT_TRUE(logger->AddLogListener(first.Get()));
    EXPECT_FALSE(logger->AddLogListener(first.Get()));
    EXPECT_EQ(first->Retain() - 1, 2);  // the test's and the logger's
    first->Release();
    EXPECT_TRUE(logger->AddLogListener(second.Get()));
    logger->Stop();

    logger->Flush();  // empty ring: nobody is called
    EXPECT_TRUE(journal.empty());
    logger->LogBag(Record("one").Get());
    logger->Flush();
    EXPECT_EQ(journal, (std::vector<std::string>{"second", "first"}));

    // Removal flushes first, so the listener still hears what is pending.
    journal.clear();
    logger->LogBag(Record("two").Get());
    EXPECT_TRUE(logger->RemoveLogListener(first.Get()));
    EXPECT_EQ(journal, (std::vector<std::string>{"second", "first"}));
    EXPECT_FALSE(logger->RemoveLogListener(first.Get()));
    EXPECT_FALSE(logger->RemoveLogListener(nullptr));
    EXPECT_EQ(first->Retain() - 1, 1);
    first->Release();
}

TEST(Logger, AfterStopRecordsStillEnterAndAnExplicitFlushDeliversThem)
{
    ManualLogger logger;
    EXPECT_TRUE(logger->IsStarted());
    ASSERT_NE(logger->GetLoggerTask(), nullptr);
    EXPECT_EQ(logger->GetLoggerTask()->GetState(), TaskState_Dead);
    logger->LogMessage(EML_Warning, VString("kept"), VString("unit"));
    logger->Flush();
    ASSERT_EQ(logger.Listener()->Messages().size(), 1u);
    EXPECT_EQ(Text(logger.Listener()->Messages()[0]), "kept");
}

TEST(Logger, ItsTaskFlushesToTheListenersEveryHundredMilliseconds)
{
    VRefPtr<VLogger> logger = AdoptRef(new VLogger);
    VRefPtr<RecordingListener> listener = AdoptRef(new RecordingListener);
    logger->Start();
    ASSERT_TRUE(logger->AddLogListener(listener.Get()));
    VRefPtr<VTask> task(logger->GetLoggerTask());
    ASSERT_NE(task, nullptr);
    VString name;
    task->GetName(name);
    EXPECT_EQ(Text(name), "Logger");
    EXPECT_EQ(task->GetKind(), FourCC("LOGG"));

    logger->LogBag(Record("async").Get());
    for (int i = 0; i < 200 && listener->Messages().empty(); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    ASSERT_EQ(listener->Messages().size(), 1u);
    EXPECT_EQ(Text(listener->Messages()[0]), "async");

    // The last release waits for the task's death.
    logger = nullptr;
    EXPECT_EQ(task->GetState(), TaskState_Dead);
}

TEST(Logger, DestructionWaitsForASlowListenerBeyondTheStopLimit)
{
    // The listener is still inside Put when Stop's 3000 ms are over: the
    // logger must not release what the task is using before it is dead.
    struct Slow : public VObject, public ILogListener {
        void Put(const std::vector<const VValueBag*>& inRecords) override
        {
            fEntered.store(true);
            std::this_thread::sleep_for(std::chrono::milliseconds(3300));
            for (const VValueBag* record : inRecords)
                fLastLevel = ILoggerBagKeys::level.Get(*record);
            fDone.store(true);
        }
        std::atomic<bool> fEntered{false};
        std::atomic<bool> fDone{false};
        int fLastLevel = 0;
    };
    VRefPtr<Slow> slow = AdoptRef(new Slow);
    VLogger* logger = new VLogger;
    logger->Start();
    logger->AddLogListener(slow.Get());
    VRefPtr<VTask> task(logger->GetLoggerTask());
    logger->LogBag(Record("slow").Get());
    for (int i = 0; i < 1000 && !slow->fEntered.load(); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    ASSERT_TRUE(slow->fEntered.load());
    logger->Stop();  // gives up after 3000 ms
    logger->Release();
    EXPECT_TRUE(slow->fDone.load());
    EXPECT_EQ(task->GetState(), TaskState_Dead);
    EXPECT_EQ(slow->fLastLevel, EML_Info);
}

TEST(Logger, TasksLoggingAtOnceLoseNothingBelowTheRingSize)
{
    VRefPtr<VLogger> logger = AdoptRef(new VLogger);
    VRefPtr<RecordingListener> listener = AdoptRef(new RecordingListener);
    logger->Start();
    logger->AddLogListener(listener.Get());
    constexpr int kThreads = 4;
    constexpr int kEach = 200;  // at most 800 in the ring at once
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&logger, t]() {
            for (int i = 0; i < kEach; ++i)
                logger->LogMessage(EML_Info, VString(std::to_string(t * kEach + i).c_str()), VString("t"));
        });
    }
    for (std::thread& thread : threads)
        thread.join();
    logger->Flush();
    std::vector<VString> messages = listener->Messages();
    ASSERT_EQ(messages.size(), static_cast<size_t>(kThreads * kEach));
    // Each thread's records arrive in its own order.
    std::vector<int> last(kThreads, -1);
    for (const VString& message : messages) {
        const int n = std::stoi(Text(message));
        EXPECT_GT(n % kEach, last[n / kEach]);
        last[n / kEach] = n % kEach;
    }
}

TEST(Logger, SequenceNumbersFollowEachOther)
{
    const uint64_t first = ILogger::GetSequenceNumber();
    EXPECT_GE(first, 1u);
    EXPECT_EQ(ILogger::GetSequenceNumber(), first + 1);
}

TEST(Logger, ProcessLoggerIsStoppedAndItsTaskDeadWhenReleased)
{
    test::TestProcess* process = test::TestProcess::Get();
    ASSERT_EQ(process->GetLogger(), nullptr);
    ASSERT_TRUE(process->_CreateLogger());
    VLogger* logger = process->GetVLogger();
    ASSERT_NE(logger, nullptr);
    EXPECT_TRUE(logger->IsStarted());
    VRefPtr<VTask> task(logger->GetLoggerTask());
    ASSERT_NE(task, nullptr);
    EXPECT_NE(task->GetState(), TaskState_Dead);
    process->_ReleaseLogger();
    EXPECT_EQ(process->GetLogger(), nullptr);
    EXPECT_EQ(task->GetState(), TaskState_Dead);
}

TEST(Logger, AProcessStartedWithTheLoggerFlagLogsAndShutsItsTaskDown)
{
    // In a child process: the test program's own process object is shut
    // down, and a new one is started with the logger flag.
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(
        {
            delete VProcess::sInstance;
            VProcess* process = new VProcess;
            int status = process->Init(kInitLogger) ? 0 : 2;
            ILogger* logger = process->GetLogger();
            if (logger == nullptr || !logger->IsStarted())
                std::_Exit(3);
            VRefPtr<RecordingListener> listener = AdoptRef(new RecordingListener);
            logger->AddLogListener(listener.Get());
            logger->LogMessage(EML_Info, VString("boot"), VString("test"));
            // The start-up may log a warning of its own (a case-sensitive
            // install folder), which the logger's task may deliver alone
            // first; the record logged here arrives once.
            auto boots = [&listener] {
                const std::vector<VString> messages = listener->Messages();
                return std::count_if(messages.begin(), messages.end(),
                                     [](const VString& m) { return m.EqualToStringRaw(VString("boot")); });
            };
            for (int i = 0; i < 300 && boots() == 0; ++i)
                std::this_thread::sleep_for(std::chrono::milliseconds(10));
            if (boots() != 1)
                status = 4;
            VRefPtr<VTask> task(static_cast<VLogger*>(logger)->GetLoggerTask());
            delete process;
            if (task->GetState() != TaskState_Dead)
                status = 5;
            std::_Exit(status);
        },
        ::testing::ExitedWithCode(0), "");
}
