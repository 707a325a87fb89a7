// Streams report their transfers to an attached progress indicator.
#include <gtest/gtest.h>

#include "files/VConstPtrStream.h"
#include "files/VPtrStream.h"
#include "runtime/VErrorContext.h"
#include "runtime/VProgressIndicator.h"

namespace qelt {

namespace {

// Records what the stream told it; answers stop after `fStopAfter` reports.
class WatchingIndicator : public VProgressIndicator {
public:
    bool DoProgress() override { return ++fReports <= fStopAfter; }
    void DoBeginSession(int) override
    {
        GetMessage(fMessage);
        fMax = GetMaxValue();
    }
    int fReports = 0;
    int fStopAfter = 1000;
    VString fMessage;
    long long fMax = 0;
};

}  // namespace

TEST(StreamProgress, ReadingAndWritingOpenSessionsAndReportThePosition)
{
    const char bytes[] = "0123456789";
    VRefPtr<WatchingIndicator> indicator = AdoptRef(new WatchingIndicator());
    VConstPtrStream in(bytes, 10);
    in.SetProgressIndicator(indicator.Get());
    ASSERT_EQ(in.OpenReading(), VE_OK);
    EXPECT_EQ(indicator->GetSessionCount(), 1);
    EXPECT_TRUE(indicator->fMessage.EqualToString(VString("Reading From Stream")));
    EXPECT_EQ(indicator->fMax, 10);
    char buffer[4];
    ASSERT_EQ(in.GetData(buffer, 4), VE_OK);
    ASSERT_EQ(in.GetData(buffer, 4), VE_OK);
    EXPECT_EQ(indicator->GetCurrentValue(), 8);
    EXPECT_FLOAT_EQ(indicator->ComputePercentDone(), 0.8f);
    EXPECT_EQ(in.CloseReading(), VE_OK);
    EXPECT_EQ(indicator->GetSessionCount(), 0);

    VPtrStream out;
    out.SetProgressIndicator(indicator.Get());
    ASSERT_EQ(out.OpenWriting(), VE_OK);
    EXPECT_TRUE(indicator->fMessage.EqualToString(VString("Writing to Stream")));
    EXPECT_EQ(indicator->fMax, -1);
    ASSERT_EQ(out.PutData(bytes, 3), VE_OK);
    EXPECT_EQ(indicator->GetCurrentValue(), 3);
    out.CloseWriting();
    EXPECT_EQ(indicator->GetSessionCount(), 0);
}

TEST(StreamProgress, AStopAnswerFailsTheStreamWith206AndKeepsIt)
{
    StErrorContextInstaller errors(false, true);
    VRefPtr<WatchingIndicator> indicator = AdoptRef(new WatchingIndicator());
    indicator->fStopAfter = 1;
    VPtrStream out;
    out.SetProgressIndicator(indicator.Get());
    ASSERT_EQ(out.OpenWriting(), VE_OK);
    ASSERT_EQ(out.PutData("ab", 2), VE_OK);
    VError err = out.PutData("cd", 2);
    EXPECT_EQ(err, QeltError(206));
    EXPECT_EQ(out.PutData("ef", 2), err);
    EXPECT_EQ(out.GetDataSize(), 4u);  // the stopped write itself went through
    out.CloseWriting();
    EXPECT_EQ(indicator->GetSessionCount(), 0);
}

TEST(StreamProgress, AnIndicatorAttachedWhileWritingSeesEveryLaterWrite)
{
    VRefPtr<WatchingIndicator> indicator = AdoptRef(new WatchingIndicator());
    indicator->BeginSession(100, VString("outside"));
    VPtrStream out;
    ASSERT_EQ(out.OpenWriting(), VE_OK);
    ASSERT_EQ(out.PutData("abcd", 4), VE_OK);
    ASSERT_EQ(out.PutData("ef", 2), VE_OK);  // fits the block as it is
    out.SetProgressIndicator(indicator.Get());
    ASSERT_EQ(out.PutData("gh", 2), VE_OK);
    EXPECT_EQ(indicator->GetCurrentValue(), 8);
    ASSERT_EQ(out.PutData("ij", 2), VE_OK);
    EXPECT_EQ(indicator->GetCurrentValue(), 10);
    out.SetProgressIndicator(nullptr);
    indicator->EndSession();
}

}  // namespace qelt
