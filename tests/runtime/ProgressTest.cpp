// Progress records, indicators and their sessions, snapshots, the progress
// manager, metrics and remote mirroring.
#include <gtest/gtest.h>

#include "TestSupport.h"

#include <atomic>
#include <cmath>
#include <cstring>
#include <string>
#include <limits>

#include "files/VPtrStream.h"
#include "json/VJSONArray.h"
#include "json/VJSONObject.h"
#include "json/VJSONValue.h"
#include "kernel/VBoolean.h"
#include "kernel/VLong.h"
#include "kernel/VLong8.h"
#include "platform/PlatThreads.h"
#include "runtime/IProgressInfoCollector.h"
#include "runtime/VMetricsManager.h"
#include "runtime/VProgressIndicator.h"
#include "runtime/VProgressManager.h"
#include "runtime/VProgressSessionInfo.h"
#include "runtime/VRefCountedSessionInfo.h"
#include "runtime/VRemoteProgressSessionInfo.h"
#include "runtime/VTask.h"
#include "values/VBagArray.h"
#include "values/VValueBag.h"

using namespace qelt;

namespace {

long long LongAttr(const VValueBag& bag, const char* name)
{
    VLong8 value;
    EXPECT_TRUE(bag.GetAttribute(name, value)) << name;
    return value.GetLong8();
}

double Number(const VJSONObject& json, const char* name) { return json.GetProperty(name).GetNumber(); }

using test::ToStd;

VString Text(const VJSONValue& value)
{
    VString text;
    value.GetString(text);
    return text;
}

VRefPtr<VProgressIndicator> NewIndicator() { return AdoptRef(new VProgressIndicator()); }

// A collector that answers a fixed object, or null.
class FixedCollector : public IProgressInfoCollector {
public:
    VJSONObject* CollectInfo(VProgressIndicator*, bool outermost) override
    {
        ++fCalls;
        if (outermost)
            ++fOutermost;
        if (!fAnswer)
            return nullptr;
        VJSONObject* info = new VJSONObject();
        info->SetProperty("step", VJSONValue(static_cast<double>(fCalls)));
        return info;
    }
    bool fAnswer = true;
    int fCalls = 0;
    int fOutermost = 0;
};

}  // namespace

// --- session records --------------------------------------------------------

TEST(ProgressRecord, AgainstAnIdenticalReferenceOnlyZeroFlagsAreWritten)
{
    VProgressIndicatorInfo record;
    record.fMessage = "copying";
    record.fValue = 3;
    record.fMax = 12;
    record.SetAttribute("file", VString("a.txt"));
    VProgressIndicatorInfo reference(record);
    VValueBag bag;
    VString kind;
    record.SaveToBag(bag, kind, &reference);
    EXPECT_EQ(ToStd(kind), "VProgressIndicatorInfo");
    EXPECT_EQ(bag.GetAttributesCount(), 1);
    EXPECT_EQ(LongAttr(bag, "fUpdateFlags"), 0);
    EXPECT_EQ(bag.GetElementNamesCount(), 0);
}

TEST(ProgressRecord, AChangedExtraVersionIsSentWithTheBagWhenThereIsOne)
{
    struct Case {
        bool withBag;
        long long flags;
    } cases[] = {{true, 0x60}, {false, 0x20}};
    for (const Case& c : cases) {
        VProgressIndicatorInfo record;
        if (c.withBag)
            record.SetAttribute("k", VLong(1));
        VProgressIndicatorInfo reference(record);
        ++reference.fExtraInfoBagVersion;
        VValueBag bag;
        VString kind;
        record.SaveToBag(bag, kind, &reference);
        EXPECT_EQ(LongAttr(bag, "fUpdateFlags"), c.flags) << c.withBag;
        EXPECT_EQ(bag.GetElements("ExtraInfo") != nullptr, c.withBag);
    }
}

TEST(ProgressRecord, CompleteFormRoundTripsAndDropsAMissingExtraBag)
{
    VProgressIndicatorInfo record;
    record.fMessage = "m";
    record.fValue = 7;
    record.fMax = 9;
    record.fCanInterrupt = false;
    record.SetAttribute("k", VLong(1));
    VValueBag bag;
    VString kind;
    record.SaveToBag(bag, kind, nullptr);
    EXPECT_EQ(LongAttr(bag, "fUpdateFlags"), 0x400);

    VProgressIndicatorInfo copy;
    copy.LoadFromBag(bag);
    EXPECT_EQ(ToStd(copy.fMessage), "m");
    EXPECT_EQ(copy.fValue, 7);
    EXPECT_EQ(copy.fMax, 9);
    EXPECT_FALSE(copy.fCanInterrupt);
    EXPECT_EQ(copy.fStartTime, record.fStartTime);
    EXPECT_EQ(copy.fExtraInfoBagVersion, record.fExtraInfoBagVersion);
    ASSERT_NE(copy.fExtraInfoBag, nullptr);
    EXPECT_NE(copy.fExtraInfoBag, record.fExtraInfoBag);

    bag.RemoveElements("ExtraInfo");
    copy.LoadFromBag(bag);
    EXPECT_EQ(copy.fExtraInfoBag, nullptr);
}

TEST(ProgressRecord, MessagePlaceholdersAndRateValue)
{
    struct Case {
        long long value, max;
        const char* expected;
    } cases[] = {
        {3, 12, "3 of 12: 25% {"},
        {5, -1, "5 of -1: 0% {"},
        {0, -1, "0 of -1: 0% {"},
        {-4, 10, "-4 of 10: 0% {"},
        {5, 0, "5 of 0: 0% {"},  // infinite quotient
        {0, 0, "0 of 0: 0% {"},  // undefined quotient
        {std::numeric_limits<long long>::max(), 1, "9223372036854775807 of 1: 9223372036854775807% {"},
    };
    for (const Case& c : cases) {
        VProgressIndicatorInfo record;
        record.fMessage = "{curValue} of {maxValue}: {rateValue}%{unknown} {";
        record.fValue = c.value;
        record.fMax = c.max;
        VString out("untouched");
        record.GetMessage(out);
        EXPECT_EQ(ToStd(out), c.expected) << c.value << "/" << c.max;
    }
    VProgressIndicatorInfo empty;
    VString out("untouched");
    empty.GetMessage(out);
    EXPECT_EQ(ToStd(out), "untouched");
}

TEST(ProgressRecord, RemoteUpdateKeepsTheStartTimeAndAttributesCountVersions)
{
    VProgressIndicatorInfo mine;
    mine.fStartTime = 100;
    VProgressIndicatorInfo other;
    other.fMessage = "x";
    other.fValue = 2;
    other.fMax = 3;
    other.fStartTime = 999;
    mine.UpdateFromRemoteInfo(other, 0x0F);
    EXPECT_EQ(ToStd(mine.fMessage), "x");
    EXPECT_EQ(mine.fValue, 2);
    EXPECT_EQ(mine.fMax, 3);
    EXPECT_EQ(mine.fStartTime, 100u);

    uint32_t version = mine.fExtraInfoBagVersion;
    mine.RemoveAttribute("none");
    EXPECT_EQ(mine.fExtraInfoBagVersion, version);
    mine.SetAttribute("a", VLong(1));
    EXPECT_NE(mine.fExtraInfoBag, nullptr);
    EXPECT_EQ(mine.fExtraInfoBagVersion, version + 1);
}

TEST(ProgressRecord, JSONFormMergesACopyOfTheCollectedInformation)
{
    VProgressIndicatorInfo record;
    record.fMessage = "{curValue}";
    record.fValue = 4;
    record.fMax = 8;
    VRefPtr<VJSONObject> collected = AdoptRef(new VJSONObject());
    collected->SetProperty("message", VJSONValue(VString("from collector")));
    collected->SetProperty("extra", VJSONValue(1.0));
    record.SetCollectedInfo(collected.Get());
    VRefPtr<VJSONObject> json = AdoptRef(new VJSONObject());
    record.GetJSONObject(*json);
    EXPECT_EQ(ToStd(Text(json->GetProperty("message"))), "from collector");
    EXPECT_EQ(Number(*json, "maxValue"), 8);
    EXPECT_EQ(Number(*json, "currentValue"), 4);
    EXPECT_EQ(Number(*json, "extra"), 1);
    EXPECT_EQ(Text(json->GetProperty("uuid")).GetLength(), 32);
}

// --- indicators and sessions ---------------------------------------------------

TEST(ProgressIndicator, ComputePercentDone)
{
    auto p = NewIndicator();
    EXPECT_EQ(p->ComputePercentDone(), 0.0f);
    p->BeginUndeterminedSession("u");
    p->Progress(5);
    EXPECT_EQ(p->ComputePercentDone(), 5.0f);
    p->EndSession();

    p->BeginSession(10, "outer");
    p->Progress(3);
    p->BeginSession(4, "inner");
    p->Progress(2);
    EXPECT_FLOAT_EQ(p->ComputePercentDone(), 0.35f);
    p->EndSession();
    p->SetMaxValue(0);
    p->BeginSession(4, "inner");
    p->Progress(2);
    EXPECT_EQ(p->ComputePercentDone(), 0.0f);
    p->EndSession();
    p->EndSession();
}

TEST(ProgressIndicator, NestedSessionsGiveBackEachEnclosingSession)
{
    auto p = NewIndicator();
    const char* names[] = {"one", "two", "three"};
    for (int i = 0; i < 3; ++i) {
        p->BeginSession(10 * (i + 1), names[i]);
        p->Progress(i + 1);
    }
    EXPECT_EQ(p->GetSessionCount(), 3);
    for (int i = 2; i > 0; --i) {
        EXPECT_TRUE(p->EndSession());
        VString message;
        p->GetMessage(message);
        EXPECT_EQ(ToStd(message), names[i - 1]);
        EXPECT_EQ(p->GetCurrentValue(), i);
        EXPECT_EQ(p->GetMaxValue(), 10 * i);
    }
    EXPECT_TRUE(p->EndSession());
    EXPECT_FALSE(p->EndSession());
    EXPECT_EQ(p->GetMaxValue(), 0);
    EXPECT_EQ(p->GetCurrentValue(), 1);
}

TEST(ProgressIndicator, ReportsWithoutSessionAndCounters)
{
    auto p = NewIndicator();
    EXPECT_TRUE(p->Progress(5));
    EXPECT_TRUE(p->Increment(1));
    EXPECT_TRUE(p->Decrement(1));
    EXPECT_EQ(p->GetCurrentValue(), 0);
    EXPECT_EQ(p->GetChangesCounter(), 0);
    EXPECT_EQ(p->GetSessionVersion(), 0);

    p->BeginSession(10, "s");
    EXPECT_EQ(p->GetSessionVersion(), 1);
    p->BeginSession(10, "t");
    EXPECT_EQ(p->GetSessionVersion(), 1);
    EXPECT_TRUE(p->Increment(3));
    EXPECT_TRUE(p->Decrement(1));
    EXPECT_EQ(p->GetCurrentValue(), 2);
    p->EndSession();
    p->EndSession();
    EXPECT_EQ(p->GetSessionVersion(), 2);
    EXPECT_EQ(p->GetChangesCounter(), 6);
}

TEST(ProgressIndicator, UserAbortAndADyingTaskStopTheWork)
{
    auto p = NewIndicator();
    p->BeginSession(10, "s");
    EXPECT_TRUE(p->Progress(1));
    p->SetUserAbort(1);
    EXPECT_FALSE(p->Progress(2));
    p->SetUserAbort(0);

    struct Answer {
        bool interruptible;
        bool expected;
    } answers[] = {{true, false}, {false, true}};
    for (const Answer& a : answers) {
        p->SetCanInterrupt(a.interruptible, false);
        std::atomic<int> answer{-1};
        VTask* task = new VTask(0, eTaskStylePreemptive, [&]() {
            while (VTask::GetCurrent()->GetState() < TaskState_Dying)
                plat::ThreadSleep(1);
            answer = p->Progress(3) ? 1 : 0;
        });
        ASSERT_TRUE(task->Run());
        task->Kill();
        ASSERT_TRUE(task->WaitForDeath(5000));
        task->Release();
        EXPECT_EQ(answer.load(), a.expected ? 1 : 0) << a.interruptible;
    }
    p->EndSession();
}

TEST(ProgressIndicator, SaveInfoToBagWritesOneElementPerSession)
{
    auto p = NewIndicator();
    p->BeginSession(10, "a");
    p->BeginSession(5, "b");
    p->Progress(1);  // builds the first snapshot
    VValueBag bag;
    EXPECT_EQ(p->SaveInfoToBag(bag), VE_OK);
    EXPECT_EQ(LongAttr(bag, "SessionCount"), 2);
    VBagArray* list = bag.GetElements("SessionInfo");
    ASSERT_NE(list, nullptr);
    EXPECT_EQ(list->GetCount(), 2);
    p->EndSession();
    p->EndSession();
}

// --- snapshots and the manager ------------------------------------------------

TEST(ProgressSnapshot, SummaryOfFiveSessionsHoldsFirstFourthAndFifth)
{
    auto p = NewIndicator();
    for (int i = 1; i <= 5; ++i) {
        VString name;
        name.AppendPrintf("s%d", i);
        p->BeginSession(10, name);
        p->Progress(i);
    }
    p->UpdateSessionsInfos();
    p->Progress(5);
    VProgressSessionInfo info;
    ASSERT_TRUE(p->GetProgressInfo(info));
    EXPECT_EQ(info.fSessionCount, 5);
    EXPECT_EQ(info.fFilledCount, 3);
    EXPECT_EQ(ToStd(info.fFirst.fMessage), "s1");
    EXPECT_EQ(ToStd(info.fSecond.fMessage), "s4");
    EXPECT_EQ(ToStd(info.fThird.fMessage), "s5");
    // The fraction is that of the snapshot: 0.1 + 0.02 + 0.003 + 0.0004 + 0.00005.
    EXPECT_NEAR(info.fPercentDone, 0.12345f, 1e-5);
    for (int i = 0; i < 5; ++i)
        p->EndSession();
}

TEST(ProgressSnapshot, SnapshotIsRebuiltOnlyOnRequestAndAsksTheCollectors)
{
    auto p = NewIndicator();
    FixedCollector collector;
    p->BeginSession(10, "s", &collector);
    p->Progress(1);  // first report: a snapshot without request
    EXPECT_EQ(collector.fCalls, 1);
    EXPECT_EQ(collector.fOutermost, 1);
    VRefPtr<VRefCountedSessionInfo> first = AdoptRef(p->RetainSessionsInfos());
    ASSERT_TRUE(first);
    p->Progress(2);
    VRefPtr<VRefCountedSessionInfo> same = AdoptRef(p->RetainSessionsInfos());
    EXPECT_EQ(first, same);
    EXPECT_EQ(first->GetRecords().back()->fValue, 0);  // taken before the first value was set

    p->UpdateSessionsInfos();
    collector.fAnswer = false;
    p->Progress(3);
    VRefPtr<VRefCountedSessionInfo> next = AdoptRef(p->RetainSessionsInfos());
    EXPECT_NE(first, next);
    EXPECT_EQ(next->GetRecords().back()->fValue, 2);  // taken before the value changed
    EXPECT_EQ(next->GetRecords().back()->fCollectedInfo, nullptr);
    EXPECT_NE(first->GetRecords().back()->fCollectedInfo, nullptr);
    p->EndSession();
}

TEST(ProgressManager, RegistryLookupsAndAllSnapshots)
{
    ASSERT_NE(VProgressManager::sProgressManager, nullptr);
    VProgressManager* manager = VProgressManager::sProgressManager;
    EXPECT_TRUE(VProgressManager::Init());
    EXPECT_EQ(VProgressManager::sProgressManager, manager);

    auto busy = NewIndicator();
    auto idle = NewIndicator();
    VRefPtr<VProgressIndicator> twin = AdoptRef(new VProgressIndicator(busy->GetUUID(), 0));
    VRefPtr<VProgressIndicator> found = AdoptRef(VProgressManager::RetainProgress(busy->GetUUID()));
    EXPECT_EQ(found.Get(), busy.Get());
    EXPECT_EQ(VProgressManager::RetainProgress(VUUID(static_cast<unsigned char>(1))), nullptr);

    busy->BeginSession(10, "b");
    std::vector<VRefPtr<VRefCountedSessionInfo>> all;
    EXPECT_EQ(VProgressManager::GetAllProgressInfo(all), VE_OK);
    EXPECT_TRUE(all.empty());  // requested, not yet built
    busy->Progress(1);
    EXPECT_EQ(VProgressManager::GetAllProgressInfo(all), VE_OK);
    EXPECT_EQ(all.size(), 1u);

    VValueBag bag;
    VString nobody("nobody");
    EXPECT_EQ(manager->_GetProgressInfo(bag, &nobody), VE_OK);
    EXPECT_EQ(bag.GetElementNamesCount(), 0);

    busy->EndSession();
    twin = nullptr;  // destroying the twin removes the shared entry
    EXPECT_EQ(VProgressManager::RetainProgress(busy->GetUUID()), nullptr);
    EXPECT_EQ(VProgressManager::CreateStdProgress(0, 0), nullptr);
}

TEST(ProgressManager, AnIndicatorBeingDestroyedIsNeverHandedOut)
{
    // An indicator whose count reached 0 but which is still registered.
    class Stalled : public VProgressIndicator {
    public:
        void DoOnRefCountZero() override {}
    };
    Stalled* stalled = new Stalled();
    VUUID id = stalled->GetUUID();
    stalled->Release();
    EXPECT_EQ(VProgressManager::RetainProgress(id), nullptr);
    delete stalled;
}

// --- metrics --------------------------------------------------------------------

TEST(Metrics, MinimumDurationAndKinds)
{
    VMetricsManager& metrics = VMetricsManager::Get();
    EXPECT_EQ(metrics.CreateBind(kMetricsKindProgress, 5000), nullptr);
    metrics.StartSession(1000, true, false, false);
    EXPECT_TRUE(metrics.IsProgressesCollected());
    EXPECT_EQ(metrics.CreateBind(kMetricsKindProgress, 999), nullptr);
    EXPECT_EQ(metrics.CreateBind(kMetricsKind0, 5000), nullptr);
    VRefPtr<VJSONObject> record = AdoptRef(metrics.CreateBind(kMetricsKindProgress, 1000));
    ASSERT_TRUE(record);
    EXPECT_EQ(Number(*record, "activityKind"), 4);
    EXPECT_EQ(Number(*record, "activityDuration"), 1);
    metrics.StartSession(0, false, true, true);
    EXPECT_FALSE(metrics.IsProgressesCollected());
    metrics.EndSession();
    EXPECT_EQ(metrics.CreateBind(kMetricsKind0, 5000), nullptr);
}

TEST(Metrics, ClosingSessionsRecordsTheirRecords)
{
    VMetricsManager& metrics = VMetricsManager::Get();
    metrics.StartSession(0, true, false, false);
    {
        auto p = NewIndicator();
        p->BeginSession(10, "outer");
        p->SetAttribute("file", VString("a"));
        p->BeginSession(4, "inner");
        p->EndSession();
        p->EndSession();
    }  // destroying it reports once more
    VJSONArray* all = metrics.CreateCollection();
    ASSERT_EQ(all->GetCount(), 3u);
    VJSONObject* data = all->GetAt(0).GetObject()->GetProperty("activityData").GetObject();
    ASSERT_NE(data, nullptr);
    EXPECT_EQ(ToStd(Text(data->GetProperty("infoMessage"))), "outer");
    EXPECT_TRUE(data->GetProperty("extraInfo").IsObject());
    all->Release();
    metrics.EndSession();
    all = metrics.CreateCollection();
    EXPECT_EQ(all->GetCount(), 0u);
    all->Release();
}

// --- remote mirroring -------------------------------------------------------------

namespace {

// Publishes the indicator's state as a bag and loads it as the receiver would.
bool Publish(VProgressIndicator& from, VRemoteProgressSessionInfo& previous, bool first,
             VRemoteProgressSessionInfo& received, VValueBag* savedBag = nullptr)
{
    VRemoteProgressSessionInfo out;
    if (!from.GetProgressInfo(out, first ? nullptr : &previous))
        return false;
    VRefPtr<VValueBag> bag = AdoptRef(new VValueBag());
    VString kind;
    out.SaveToBag(*bag, kind, first ? nullptr : &previous);
    EXPECT_EQ(ToStd(kind), "DistantSessionInfo");
    received.LoadFromBag(*bag);
    if (savedBag != nullptr)
        savedBag->UnionClone(bag.Get());
    previous = out;
    return true;
}

}  // namespace

TEST(RemoteProgress, PublicationsCarryTheChainOrTheInnermostDifference)
{
    auto from = NewIndicator();
    from->BeginSession(10, "outer");
    from->BeginSession(4, "inner");
    VRemoteProgressSessionInfo previous, received;
    ASSERT_TRUE(Publish(*from, previous, true, received));
    EXPECT_EQ(previous.fFlags, 0xBFu);
    ASSERT_EQ(received.fSessionStack.size(), 2u);
    EXPECT_EQ(ToStd(received.fSessionStack.back().fMessage), "inner");

    EXPECT_FALSE(Publish(*from, previous, false, received));  // nothing changed

    from->Progress(2);
    VValueBag bag;
    ASSERT_TRUE(Publish(*from, previous, false, received, &bag));
    EXPECT_EQ(previous.fFlags, 0x4Fu);
    EXPECT_EQ(received.fCurrentUpdateFlags, 0x02u);
    EXPECT_EQ(received.fSessionStack.size(), 1u);

    from->EndSession();
    plat::ThreadSleep(2);  // the replacement is told apart by its start time
    from->BeginSession(8, "other");
    ASSERT_TRUE(Publish(*from, previous, false, received));
    EXPECT_TRUE(previous.fFlags & kRemoteWholeChain);
    from->EndSession();
    from->EndSession();
}

TEST(RemoteProgress, MirroringFollowsThePublisherAboveTheOwnSessions)
{
    auto from = NewIndicator();
    auto mirror = NewIndicator();
    mirror->BeginSession(100, "own");
    from->BeginSession(10, "outer");
    from->BeginSession(4, "inner");
    VRemoteProgressSessionInfo previous, received;
    ASSERT_TRUE(Publish(*from, previous, true, received));
    // The publisher never mirrored: its master version is 0.
    mirror->UpdateFromRemoteInfo(received);
    EXPECT_TRUE(mirror->IsMirroring());
    EXPECT_EQ(mirror->GetSessionCount(), 3);
    EXPECT_EQ(mirror->GetBaseLevel(), 1);

    from->Progress(3);
    from->SetUserAbort(1);
    ASSERT_TRUE(Publish(*from, previous, false, received));
    mirror->SetUserAbort(0);
    // Master version 0 differs from the own session version 1: mirroring stops.
    mirror->UpdateFromRemoteInfo(received);
    EXPECT_FALSE(mirror->IsMirroring());
    EXPECT_EQ(mirror->GetSessionCount(), 1);
    EXPECT_EQ(mirror->GetUserAbort(), 1);
    mirror->EndSession();
    from->EndSession();
    from->EndSession();
}

TEST(RemoteProgress, MirroringWithoutOwnSessionsUpdatesAndCloses)
{
    auto from = NewIndicator();
    auto mirror = NewIndicator();
    from->BeginSession(10, "outer");
    from->BeginSession(4, "inner");
    VRemoteProgressSessionInfo previous, received;
    ASSERT_TRUE(Publish(*from, previous, true, received));
    mirror->UpdateFromRemoteInfo(received);
    ASSERT_EQ(mirror->GetSessionCount(), 2);

    from->Progress(3);
    ASSERT_TRUE(Publish(*from, previous, false, received));
    mirror->UpdateFromRemoteInfo(received);
    EXPECT_EQ(mirror->GetCurrentValue(), 3);
    VProgressSessionInfo summary;
    ASSERT_TRUE(mirror->GetProgressInfo(summary));
    EXPECT_EQ(summary.fSessionCount, 2);

    // Same run, another depth: rebuilt at the new depth.
    from->BeginSession(2, "third");
    ASSERT_TRUE(Publish(*from, previous, false, received));
    mirror->UpdateFromRemoteInfo(received);
    EXPECT_EQ(mirror->GetSessionCount(), 3);
    VString message;
    mirror->GetMessage(message);
    EXPECT_EQ(ToStd(message), "third");

    for (int i = 0; i < 3; ++i)
        from->EndSession();
    ASSERT_TRUE(Publish(*from, previous, false, received));
    mirror->UpdateFromRemoteInfo(received);
    EXPECT_FALSE(mirror->IsMirroring());
    EXPECT_EQ(mirror->GetSessionCount(), 0);
}

TEST(RemoteProgress, ImpossibleCountsAndEmptyUpdatesChangeNothing)
{
    auto mirror = NewIndicator();
    mirror->BeginSession(10, "own1");
    mirror->BeginSession(10, "own2");
    VRemoteProgressSessionInfo bad;
    bad.fFlags = 0xBF;
    bad.fSessionStack.emplace_back();
    for (int count : {-1, 2, 5}) {
        bad.fSessionCount = count;
        mirror->UpdateFromRemoteInfo(bad);
        EXPECT_FALSE(mirror->IsMirroring()) << count;
        EXPECT_EQ(mirror->GetSessionCount(), 2);
    }
    bad.fSessionCount = 1;
    mirror->UpdateFromRemoteInfo(bad);
    ASSERT_TRUE(mirror->IsMirroring());
    EXPECT_EQ(mirror->GetSessionCount(), 3);

    VRemoteProgressSessionInfo empty;  // bit 0x40 but no record loaded
    empty.fFlags = 0x4F;
    empty.fSessionCount = 1;
    empty.fChangesVersion = 99;
    empty.fMasterSessionVersion = mirror->GetSessionVersion();
    mirror->UpdateFromRemoteInfo(empty);
    EXPECT_EQ(mirror->GetSessionCount(), 3);
    EXPECT_NE(mirror->GetChangesCounter(), 99);

    mirror->EndSession();  // closes the mirrored session, then an own one
    EXPECT_FALSE(mirror->IsMirroring());
    EXPECT_EQ(mirror->GetSessionCount(), 1);
    mirror->EndSession();
}

TEST(RemoteProgress, ACurrentElementWithTwoBagsLoadsNoRecord)
{
    VRefPtr<VValueBag> bag = AdoptRef(new VValueBag());
    bag->SetAttribute("fFlags", VLong(0x40));
    VRefPtr<VValueBag> a = AdoptRef(new VValueBag());
    VRefPtr<VValueBag> b = AdoptRef(new VValueBag());
    bag->AddElement("fCurrent", a.Get());
    bag->AddElement("fCurrent", b.Get());
    VRemoteProgressSessionInfo info;
    EXPECT_EQ(info.LoadFromBag(*bag), VE_OK);
    EXPECT_TRUE(info.fSessionStack.empty());
}

TEST(RemoteProgress, IdentificationRecordOnABigEndianStream)
{
    VRefPtr<VProgressIndicator> p = AdoptRef(new VProgressIndicator(VUUID(static_cast<unsigned char>(1)), 7));
    VPtrStream stream;
    stream.SetBigEndian();
    ASSERT_EQ(stream.OpenWriting(), VE_OK);
    ASSERT_EQ(p->WriteInfoForRemote(stream), VE_OK);
    stream.CloseWriting();
    ASSERT_EQ(stream.GetSize(), 22);
    const unsigned char* bytes = static_cast<const unsigned char*>(stream.GetDataPtr());
    EXPECT_EQ(bytes[0], 0x00);
    EXPECT_EQ(bytes[1], 0x01);
    EXPECT_EQ(memcmp(bytes + 2, p->GetUUID().GetBytes(), 16), 0);
    const unsigned char tail[] = {0, 0, 0, 7};
    EXPECT_EQ(memcmp(bytes + 18, tail, 4), 0);
}
